// The map surface without a display: pins and their revision, the payload, the bridge's sending and its message
// guards, MapInteraction::parse over its accept/drop matrix, the navigation rule and the surface's own state.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "map/map_bridge.h"
#include "map/map_surface_state.h"

using namespace dorvik;

namespace {

MapPin pin(std::string id, double lat = 55.75, double lon = 37.61, bool movable = true, bool selected = false,
           std::optional<std::int64_t> vehicle = 0) {
  MapPin p{id, "Точка " + id, "1", MapPoint{lat, lon}};
  p.movable = movable;
  p.selected = selected;
  p.vehicle = vehicle;
  return p;
}

MapContent withPins(std::vector<MapPin> pins) {
  MapContent content;
  content.pins = std::move(pins);
  return content;
}

const std::string kGeneration = "0f8fad5b-d9cb-469f-a165-70867728950e";
const std::string kEcho = "0F8FAD5B-D9CB-469F-A165-70867728950E";

}  // namespace

TEST(MapPin, CoordinateTextIsTheShortestRoundTripInPlainOrExponentForm) {
  const std::vector<std::pair<double, std::string>> cases = {{0.0, "0.0"},
                                                             {-0.0, "-0.0"},
                                                             {55.0, "55.0"},
                                                             {37.617, "37.617"},
                                                             {0.0001, "0.0001"},
                                                             {5e-05, "5e-05"},
                                                             {1.5e-05, "1.5e-05"},
                                                             {0.0005, "0.0005"},
                                                             {-12.5, "-12.5"},
                                                             {-0.00003, "-3e-05"},
                                                             {123456.789, "123456.789"},
                                                             {18014398509481984.0, "18014398509481984.0"},
                                                             {36028797018963968.0, "3.602879701896397e+16"},
                                                             {1e-300, "1e-300"},
                                                             {0.1 + 0.2, "0.30000000000000004"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(coordinateText(value), text) << value;
}

TEST(MapPin, RevisionFingerprintsIdLabelAndPositionOnly) {
  MapPin base{"a1", "Склад", "", MapPoint{55, 37.617}};
  // SHA-256 of "a1|Склад|55.0|37.617".
  EXPECT_EQ(base.revision(), "39b70a186110f53f5eba1835fcc26dc17418b8486402caefcad642b500760862");

  MapPin same = base;
  same.number = "7";
  same.color = "#ff0000";
  same.movable = same.selected = true;
  same.vehicle = 3;
  EXPECT_EQ(same.revision(), base.revision());
  for (auto change : std::vector<void (*)(MapPin&)>{[](MapPin& p) { p.label = "Склад 2"; },
                                                    [](MapPin& p) { p.point.lat = 55.0000001; },
                                                    [](MapPin& p) { p.point.lon = -37.617; }}) {
    MapPin other = base;
    change(other);
    EXPECT_NE(other.revision(), base.revision());
  }
  MapPin tiny = base, small = base;
  tiny.point.lat = 0.00005;
  small.point.lat = 0.0005;
  EXPECT_NE(tiny.revision(), small.revision());
}

TEST(MapPin, JSONFormsAndEquality) {
  MapPin p = pin("a", 55, 37, false, false, std::nullopt);
  EXPECT_TRUE(p.json()["vehicle"].isNull());
  EXPECT_EQ(p.json().size(), 10u);
  EXPECT_EQ(p.json()["revision"].string(), p.revision());
  EXPECT_FALSE(p.encoded().contains("vehicle"));
  EXPECT_FALSE(p.encoded().contains("revision"));
  EXPECT_EQ(MapPin::decode(p.encoded()), p);
  MapPin withVehicle = pin("b", 1, 2, true, true, 4);
  EXPECT_EQ(MapPin::decode(JSONValue::decode(withVehicle.encoded().data())), withVehicle);
  JSONValue missing = p.encoded();
  missing.erase("color");
  EXPECT_THROW(MapPin::decode(missing), JSONDecodeError);
  JSONValue wrongType = p.encoded();
  wrongType.set("movable", "yes");
  EXPECT_THROW(MapPin::decode(wrongType), JSONDecodeError);

  MapPin selected = p;
  selected.selected = true;
  EXPECT_NE(selected, p);
  EXPECT_NE(MapInteraction::select("a", false), MapInteraction::move("a", MapPoint{1, 2}));
  EXPECT_NE(MapInteraction::transfer({"a", "b"}, 1, 2), MapInteraction::transfer({"b", "a"}, 1, 2));
  EXPECT_EQ(MapInteraction::transfer({"a", "b"}, 1, 2), MapInteraction::transfer({"a", "b"}, 1, 2));
}

TEST(MapPayload, HasFourteenMembersInOrderWithPinsInTheirOwnOrder) {
  MapView view;
  view.configuration = JSONValue::object({{"key", "K"}, {"configured", true}});
  view.generation = kGeneration;
  view.content.pins = {pin("a", 55, 37, true, false, std::nullopt)};
  view.content.lines = {{MapPoint{1, 2}, MapPoint{3, 4}}};
  view.content.lineColors = {"#123456"};
  view.content.polygons = {{MapPoint{5, 6}}};
  view.content.editing = true;
  view.content.planRevision = 12;
  view.content.vehicles = {0, 2};
  view.reduceMotion = true;
  view.command = JSONValue::object({{"id", "C1"}, {"kind", "fit"}});

  const std::string text = payloadText(view);
  const std::string pinText =
      R"({"id":"a","label":"Точка a","number":"1","lat":55,"lon":37,"movable":true,"selected":false,"revision":")" +
      view.content.pins[0].revision() + R"(","color":"#2d3e46","vehicle":null})";
  EXPECT_EQ(text, R"({"key":"K","style":null,"generation":")" + kEcho + R"(","pins":[)" + pinText +
                      R"(],"lines":[[{"lat":1,"lon":2},{"lat":3,"lon":4}]],"lineColors":["#123456"],)"
                      R"("polygons":[[{"lat":5,"lon":6}]],"editing":true,"drawing":false,)"
                      R"("reduceMotion":true,"command":{"id":"C1","kind":"fit"},"transferring":false,)"
                      R"("planRevision":12,"vehicles":[0,2]})");
  const JSONValue payload = JSONValue::decode(text);
  EXPECT_EQ(payload.size(), 14u);
  EXPECT_EQ(payload["pins"].at(0), view.content.pins[0].json());
}

// The bridge with a recording sink.
struct BridgeProbe {
  std::vector<std::string> sent, statuses;
  std::vector<MapInteraction> interactions;
  MapBridge bridge{MapView{}};

  explicit BridgeProbe(MapContent content = {}) {
    bridge.setParent(view(std::move(content)));
    bridge.setSender([this](const std::string& text) { sent.push_back(text); });
  }
  MapView view(MapContent content) {
    MapView v;
    v.configuration = JSONValue::object({{"key", "K"}});
    v.generation = kGeneration;
    v.content = std::move(content);
    v.onStatus = [this](const std::string& s) { statuses.push_back(s); };
    v.onInteraction = [this](const MapInteraction& i) { interactions.push_back(i); };
    return v;
  }
  MapBridge::Outcome post(const JSONValue& message) { return bridge.receive(PageMessage{true, true, message.data()}); }
};

TEST(MapBridge, SendsOnlyAfterTheFinishAndOnlyWhatChanged) {
  BridgeProbe probe(withPins({pin("a"), pin("b")}));
  probe.bridge.sendLatest();
  probe.bridge.update(probe.bridge.parent());
  EXPECT_TRUE(probe.sent.empty()) << "nothing before the page has loaded";

  probe.bridge.loadStarted();
  probe.bridge.loadFinished();
  ASSERT_EQ(probe.sent.size(), 1u);
  probe.bridge.update(probe.bridge.parent());
  probe.bridge.loadFinished();  // a later finish with the same payload
  EXPECT_EQ(probe.sent.size(), 1u);

  MapView changed = probe.bridge.parent();
  changed.content.pins[1].selected = true;
  probe.bridge.update(changed);
  ASSERT_EQ(probe.sent.size(), 2u);
  EXPECT_EQ(JSONValue::decode(probe.sent[1])["pins"].size(), 2u) << "the full payload";

  MapView broken = changed;
  broken.content.pins[0].point.lat = NAN;
  probe.bridge.update(broken);
  probe.bridge.update(changed);
  EXPECT_EQ(probe.sent.size(), 2u) << "an unwritable payload is neither sent nor remembered";
  MapView negativeZero = changed;
  negativeZero.content.pins[0].point.lon = -0.0;
  changed.content.pins[0].point.lon = 0.0;
  probe.bridge.update(changed);
  probe.bridge.update(negativeZero);
  EXPECT_EQ(probe.sent.size(), 4u) << "-0.0 changes the pin's revision";
  EXPECT_TRUE(probe.statuses.empty());
}

TEST(MapBridge, LoadFailuresProcessEndAndDismantling) {
  BridgeProbe probe;
  probe.bridge.loadStarted();
  probe.bridge.loadFailed(true);  // our own policy stopped a navigation
  EXPECT_TRUE(probe.statuses.empty());
  probe.bridge.loadFailed(false);
  probe.bridge.loadFinished();  // WebKit finishes a failed load too
  EXPECT_EQ(probe.statuses, std::vector<std::string>{"error"});
  EXPECT_FALSE(probe.bridge.loaded());
  EXPECT_TRUE(probe.sent.empty());

  probe.bridge.loadStarted();
  probe.bridge.loadFinished();
  EXPECT_TRUE(probe.bridge.loaded());
  probe.bridge.processEnded();
  EXPECT_FALSE(probe.bridge.loaded());
  MapView changed = probe.bridge.parent();
  changed.content.editing = true;
  probe.bridge.update(changed);
  EXPECT_EQ(probe.sent.size(), 1u) << "nothing after the page's process ended";

  probe.bridge.stop();
  probe.bridge.callFailed();
  EXPECT_EQ(probe.statuses, (std::vector<std::string>{"error", "error"}));
  EXPECT_EQ(probe.post(JSONValue::object({{"type", "status"}, {"state", "ready"}, {"generation", kEcho}})),
            MapBridge::Outcome::dropped);
}

TEST(MapBridge, GuardsDropMessagesInOrder) {
  BridgeProbe probe(withPins({pin("a")}));
  auto select = [](std::string generation) {
    return JSONValue::object({{"type", "select"}, {"id", "a"}, {"additive", false}, {"generation", generation}});
  };
  // A message of exactly `size` bytes: a select padded with an extra member.
  auto sized = [&](std::size_t size) {
    JSONValue m = select(kEcho);
    m.set("pad", "");
    m.set("pad", std::string(size - m.data().size(), 'x'));
    return m.data();
  };
  ASSERT_EQ(sized(8191).size(), 8191u);
  struct Case {
    const char* name;
    PageMessage message;
    MapBridge::Outcome outcome;
  };
  const std::vector<Case> cases = {
      {"from the page", {true, true, select(kEcho).data()}, MapBridge::Outcome::interaction},
      {"another document", {false, true, select(kEcho).data()}, MapBridge::Outcome::dropped},
      {"not an object", {true, false, "\"text\""}, MapBridge::Outcome::dropped},
      {"not serialisable", {true, true, std::nullopt}, MapBridge::Outcome::dropped},
      {"8191 bytes", {true, true, sized(8191)}, MapBridge::Outcome::interaction},
      {"8192 bytes", {true, true, sized(8192)}, MapBridge::Outcome::dropped},
      {"malformed", {true, true, "{\"type\":"}, MapBridge::Outcome::dropped},
      {"older generation", {true, true, select("A1B2").data()}, MapBridge::Outcome::dropped},
      {"lower-case generation", {true, true, select(kGeneration).data()}, MapBridge::Outcome::dropped},
      {"no generation", {true, true, R"({"type":"select","id":"a"})"}, MapBridge::Outcome::dropped},
      {"an array", {true, true, "[1,2]"}, MapBridge::Outcome::dropped},
      {"loading",
       {true, true, JSONValue::object({{"type", "status"}, {"state", "loading"}, {"generation", kEcho}}).data()},
       MapBridge::Outcome::status},
      {"unknown state",
       {true, true, JSONValue::object({{"type", "status"}, {"state", "done"}, {"generation", kEcho}}).data()},
       MapBridge::Outcome::dropped},
  };
  for (const Case& c : cases) EXPECT_EQ(probe.bridge.receive(c.message), c.outcome) << c.name;
  EXPECT_EQ(probe.statuses, std::vector<std::string>{"loading"});
  EXPECT_EQ(probe.interactions.size(), 2u);
}

TEST(MapInteraction, ParseAcceptsOnlyWhatTheModesAllow) {
  const std::vector<MapPin> pins = {pin("s1", 55, 37, true, true, 0), pin("s2", 55, 37, true, true, 0),
                                    pin("free", 55, 37, true, false, 1), pin("fixed", 55, 37, false, false, 1),
                                    pin("fixedSel", 55, 37, false, true, 1)};
  const std::string rev = pins[2].revision();
  struct Modes {
    bool editing = false, drawing = false, transferring = false;
  };
  const Modes none, editing{true}, drawing{false, true}, transferring{false, false, true},
      transferEditing{true, false, true}, transferDrawing{false, true, true};
  auto m = [](std::initializer_list<std::pair<std::string_view, JSONValue>> members) {
    return JSONValue::object(members);
  };
  auto transfer = [&](JSONValue ids, JSONValue vehicle = 2, JSONValue revision = 7) {
    return m({{"type", "transfer"}, {"ids", ids}, {"vehicle", vehicle}, {"planRevision", revision}});
  };
  const JSONValue both = JSONValue::array({"s2", "s1"});
  struct Case {
    const char* name;
    JSONValue message;
    Modes modes;
    std::optional<MapInteraction> expected;
  };
  const std::vector<Case> cases = {
      {"select", m({{"type", "select"}, {"id", "fixed"}, {"additive", true}}), none,
       MapInteraction::select("fixed", true)},
      {"select while editing", m({{"type", "select"}, {"id", "s1"}}), editing, MapInteraction::select("s1", false)},
      {"select while drawing", m({{"type", "select"}, {"id", "s1"}}), drawing, MapInteraction::select("s1", false)},
      {"select while transferring", m({{"type", "select"}, {"id", "s1"}, {"additive", "1"}}), transferring,
       MapInteraction::select("s1", true)},
      {"select of an unknown id", m({{"type", "select"}, {"id", "zz"}}), none, std::nullopt},
      {"move", m({{"type", "move"}, {"id", "free"}, {"revision", rev}, {"lat", 56}, {"lon", 38}}), editing,
       MapInteraction::move("free", MapPoint{56, 38})},
      {"move with a decimal comma",
       m({{"type", "move"}, {"id", "free"}, {"revision", rev}, {"lat", "55,75"}, {"lon", 38}}), editing,
       MapInteraction::move("free", MapPoint{55.75, 38})},
      {"move not editing", m({{"type", "move"}, {"id", "free"}, {"revision", rev}, {"lat", 56}, {"lon", 38}}),
       transferring, std::nullopt},
      {"move of a fixed pin",
       m({{"type", "move"}, {"id", "fixed"}, {"revision", pins[3].revision()}, {"lat", 56}, {"lon", 38}}), editing,
       std::nullopt},
      {"move with an old revision",
       m({{"type", "move"}, {"id", "free"}, {"revision", "abc"}, {"lat", 56}, {"lon", 38}}), editing, std::nullopt},
      {"move to latitude 91", m({{"type", "move"}, {"id", "free"}, {"revision", rev}, {"lat", 91}, {"lon", 38}}),
       editing, std::nullopt},
      {"transfer of the selection in another order", transfer(both), transferring,
       MapInteraction::transfer({"s2", "s1"}, 2, 7)},
      {"transfer of one pin outside the selection", transfer(JSONValue::array({"free"}), "2", "7"), transferring,
       MapInteraction::transfer({"free"}, 2, 7)},
      {"transfer while editing", transfer(both), transferEditing, std::nullopt},
      {"transfer while drawing", transfer(both), transferDrawing, std::nullopt},
      {"transfer not transferring", transfer(both), none, std::nullopt},
      {"transfer with a repeated id", transfer(JSONValue::array({"s1", "s2", "s1"})), transferring, std::nullopt},
      {"transfer of a fixed pin", transfer(JSONValue::array({"fixed"})), transferring, std::nullopt},
      {"transfer to vehicle 1.5", transfer(both, 1.5), transferring, std::nullopt},
      {"transfer to a vehicle not allowed", transfer(both, 3), transferring, std::nullopt},
      {"transfer without a vehicle", transfer(both, JSONValue()), transferring, std::nullopt},
      {"transfer of another plan revision", transfer(both, 2, 6), transferring, std::nullopt},
      {"transfer of no ids", transfer(JSONValue::array({})), transferring, std::nullopt},
      {"transfer of part of the selection", transfer(JSONValue::array({"s1"})), transferring, std::nullopt},
      {"transfer of the selection and one more", transfer(JSONValue::array({"s1", "s2", "free"})), transferring,
       std::nullopt},
      {"addVertex while drawing", m({{"type", "addVertex"}, {"lat", 1}, {"lon", 2}}), drawing,
       MapInteraction::addVertex(MapPoint{1, 2})},
      {"addVertex not drawing", m({{"type", "addVertex"}, {"lat", 1}, {"lon", 2}}), editing, std::nullopt},
      {"addVertex without a position", m({{"type", "addVertex"}, {"lat", 1}}), drawing, std::nullopt},
      {"unknown type", m({{"type", "rotate"}, {"id", "s1"}}), editing, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapInteraction::parse(c.message, pins, c.modes.editing, c.modes.drawing, c.modes.transferring, 7, {0, 2}),
              c.expected)
        << c.name;
  }
}

TEST(MapNavigation, OnlyThePageStaysAndVendorLinksGoToTheBrowser) {
  const std::string page = "file:///opt/Dorvik/Dorvik_DorvikApp.bundle/Resources/Map/Map.html";
  using D = NavigationDecision;
  struct Case {
    std::string url;
    bool mainFrame, link;
    D expected;
  };
  const std::vector<Case> cases = {
      {page, true, false, D::allow},
      {"file:///opt/Dorvik/Dorvik_DorvikApp.bundle/Resources/Map/./../Map/Map%2Ehtml", true, false, D::allow},
      {page, false, false, D::cancel},
      {page + "?x=1", true, false, D::cancel},
      {page + "#top", true, false, D::cancel},
      {"file:///etc/passwd", true, true, D::cancel},
      {"https://www.2gis.ru/moscow", true, true, D::openExternally},
      {"https://2GIS.com/", false, true, D::openExternally},
      {"https://2gis.com.evil.example/", true, true, D::cancel},
      {"https://not2gis.com/", true, true, D::cancel},
      {"http://2gis.ru/", true, true, D::cancel},
      {"https://www.2gis.ru/moscow", true, false, D::cancel},
      {"https://example.com/", true, true, D::cancel},
      {"about:blank", true, false, D::cancel},
  };
  for (const Case& c : cases) EXPECT_EQ(decideNavigation(c.url, c.mainFrame, c.link, page), c.expected) << c.url;
}

TEST(MapSurfaceState, LayersFollowTheSettingsAndThePage) {
  using L = MapSurfaceState::Layer;
  const JSONValue keyed = JSONValue::object({{"key", "K"}});
  const JSONValue keyless = JSONValue::object({{"configured", false}});
  const std::string failed = "Не удалось получить настройки карты 2ГИС. Проверьте подключение к серверу.";
  struct Case {
    const char* name;
    MapSettings settings;
    L layer;
    std::string text;
    std::optional<std::string> panel;
  };
  const std::vector<Case> cases = {
      {"demo", {keyless, std::nullopt, true}, L::unavailable, kMapPreviewText, std::nullopt},
      {"no key", {keyless, std::nullopt, false}, L::unavailable, kMapNoKeyText, std::nullopt},
      {"not loaded yet", {JSONValue(), std::nullopt, false}, L::connecting, "", std::nullopt},
      {"settings failed", {JSONValue(), failed, false}, L::unavailable, failed, failed},
      {"a key", {keyed, std::nullopt, false}, L::map, "", std::nullopt},
      {"a key and a later failure", {keyed, failed, false}, L::map, "", failed},
  };
  const MapSurfaceState fresh;
  for (const Case& c : cases) {
    const auto look = fresh.look(c.settings);
    EXPECT_EQ(look.layer, c.layer) << c.name;
    EXPECT_EQ(look.unavailableText, c.text) << c.name;
    EXPECT_EQ(look.panel, c.panel) << c.name;
  }

  MapSurfaceState state;
  const MapSettings settings{keyed, std::nullopt, false};
  EXPECT_TRUE(state.look(settings).loadingCard);
  EXPECT_FALSE(state.look(settings).controls);
  state.onStatus("ready");
  EXPECT_FALSE(state.look(settings).loadingCard);
  EXPECT_TRUE(state.look(settings).controls);
  state.onStatus("error");
  auto look = state.look(settings);
  EXPECT_FALSE(look.loadingCard || look.controls);
  EXPECT_EQ(look.panel, std::string(kMapPageFailed));
  state.onStatus("bogus");
  EXPECT_EQ(state.issue(), std::string(kMapPageFailed));

  const std::string before = state.reloadID();
  state.retry();
  EXPECT_NE(state.reloadID(), before);
  EXPECT_FALSE(state.issue() || state.ready());
  EXPECT_TRUE(state.look(settings).loadingCard);
  EXPECT_EQ(state.look(MapSettings{keyed, failed, false}).panel, failed) << "the settings failure stays";
}

TEST(MapSurfaceState, EachPressIsANewCommandAndMotionFollowsBothSettings) {
  MapSurfaceState state;
  EXPECT_TRUE(state.command().isNull());
  state.send("fit");
  const JSONValue first = state.command();
  state.send("fit");
  EXPECT_EQ(first["kind"].string(), "fit");
  EXPECT_NE(first["id"], state.command()["id"]);
  EXPECT_EQ(first["id"].string(), upperCased(first["id"].string()));
  EXPECT_EQ(first["id"].string().size(), 36u);

  MapView view;
  view.command = first;
  JSONValue a = JSONValue::decode(payloadText(view));
  view.command = state.command();
  JSONValue b = JSONValue::decode(payloadText(view));
  EXPECT_NE(a, b);
  a.set("command", JSONValue());
  b.set("command", JSONValue());
  EXPECT_EQ(a, b) << "two presses differ only in the command";

  EXPECT_FALSE(mapReduceMotion(false, true));
  EXPECT_TRUE(mapReduceMotion(true, true));
  EXPECT_TRUE(mapReduceMotion(false, false));
}
