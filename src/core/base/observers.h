// Observers<Event>: the change notification of the observable objects (the application model, a screen's
// loader). Views register a callback and keep the Connection; the registration ends when it is destroyed.
// Main thread only. An observer may connect or disconnect others, or itself, while it is being told.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace dorvik {

template <class Event>
class Observers {
 public:
  using Observer = std::function<void(Event)>;
  using List = std::map<std::uint64_t, Observer>;

  class Connection {
   public:
    Connection() = default;
    Connection(Connection&& other) noexcept : list_(std::move(other.list_)), id_(std::exchange(other.id_, 0)) {}
    Connection& operator=(Connection&& other) noexcept {
      if (this != &other) {
        disconnect();
        list_ = std::move(other.list_);
        id_ = std::exchange(other.id_, 0);
      }
      return *this;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { disconnect(); }
    void disconnect() {
      if (auto list = list_.lock()) list->erase(id_);
      list_.reset();
      id_ = 0;
    }

   private:
    friend class Observers;
    std::weak_ptr<List> list_;
    std::uint64_t id_ = 0;
  };

  [[nodiscard]] Connection observe(Observer observer) {
    Connection connection;
    connection.id_ = next_++;
    connection.list_ = list_;
    list_->emplace(connection.id_, std::move(observer));
    return connection;
  }

  void notify(Event event) const {
    // A copy: the list may change while its members are told; one removed meanwhile is not told.
    List observers = *list_;
    for (auto& [id, observer] : observers) {
      if (list_->count(id)) observer(event);
    }
  }

 private:
  std::shared_ptr<List> list_ = std::make_shared<List>();
  std::uint64_t next_ = 1;
};

}  // namespace dorvik
