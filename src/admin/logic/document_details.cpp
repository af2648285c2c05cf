#include "admin/logic/document_details.h"

#include <utility>

#include "core/api/path_encoding.h"

namespace dorvik::admin {

std::string documentPath(std::string_view id) { return "/admin/documents/" + encodeID(id); }

std::string documentAcksPath(std::string_view id) { return documentPath(id) + "/acks"; }

std::string documentFilePath(std::string_view id) { return "/documents/" + encodeID(id) + "/file"; }

std::string ackCountText(const JSONValue& acks) {
  return std::to_string(acks["acked"].intValue()) + " из " + std::to_string(acks["total"].intValue());
}

std::string ackedAtText(const JSONValue& row) {
  const JSONValue& at = row["ackedAt"];
  return at.isNull() ? "Ещё нет" : at.string();
}

DocumentDetailsController::DocumentDetailsController(Record document, AdminGateway gateway)
    : document_(std::move(document)), gateway_(std::move(gateway)) {}

void DocumentDetailsController::load() {
  loading_.run("load", [this] { return runLoad(content_, acknowledgments_, document_.id(), screenSource(gateway_)); });
}

async::Task<void> DocumentDetailsController::runLoad(std::shared_ptr<ScreenData> content,
                                                     std::shared_ptr<ScreenData> acks, std::string id,
                                                     ScreenSource source) {
  co_await content->load(documentPath(id), source);
  co_await acks->load(documentAcksPath(id), source);
}

std::string DocumentDetailsController::attachmentLabel() const {
  return "Сохранить вложение · " + content_->value()["fileName"].string();
}

bool DocumentDetailsController::canSaveAttachment() const {
  const bool preview = gateway_.preview && gateway_.preview();
  return content_->value()["isActive"].boolValue() && !preview;
}

void DocumentDetailsController::saveAttachment() {
  // The proposed name is the document's as loaded when the bytes arrive.
  std::shared_ptr<ScreenData> content = content_;
  async::spawn(offerDownload(
      gateway_, documentFilePath(document_.id()), [content] { return content->value()["fileName"].string(); },
      content_));
}

}  // namespace dorvik::admin
