// The record editor without a display: the working copy and the page's parts, the checks and bodies of a save,
// the requests of each page (the zone list read and written back, the address memory), one busy state for save and
// delete, the coordinate lookup, the attachment limit and the record paths.
#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "admin/logic/data_screen.h"
#include "admin/logic/fake_gateway.h"
#include "admin/logic/record_editor.h"
#include "admin/logic/upload_files.h"
#include "core/api/failure.h"
#include "core/api/transport_error.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::admin::testing;

namespace {

// The message of a save body that must be refused ("" when it is accepted).
std::string refusal(const EditorInput& input) {
  try {
    saveBody(input);
    return "";
  } catch (const DorvikError& e) {
    return e.message();
  }
}

EditorInput inputFor(PanelPage page, JSONValue record, JSONValue value) {
  EditorInput in;
  in.page = page;
  in.record = std::move(record);
  in.value = std::move(value);
  in.fields = DataScreen::configuration(page, "").fields;
  return in;
}

JSONValue zone(const char* name, JSONValue extra = JSONValue::object({})) {
  JSONValue z = extra;
  z.set("name", name);
  return z;
}

class Editor : public GatewayTest {
 protected:
  std::shared_ptr<RecordEditorController> editor(PanelPage page, JSONValue record) {
    auto made = RecordEditorController::create(
        page, std::move(record), DataScreen::configuration(page, ""),
        [this]() -> async::Task<void> {
          refreshed.push_back(fake.calls.size());
          co_return;
        },
        fake.gateway());
    connections.push_back(made->observe([this](RecordEditorController::Change change) {
      if (change == RecordEditorController::Change::dismissed) ++dismissed;
      if (change == RecordEditorController::Change::resend) ++resendQuestions;
    }));
    made->prepare();
    return made;
  }
  std::vector<std::size_t> refreshed;  // the number of calls made when each refresh ran
  int dismissed = 0;
  int resendQuestions = 0;
  std::vector<RecordEditorController::Connection> connections;
};

}  // namespace

TEST(EditorRules, WorkingCopyAndThePagesOwnParts) {
  EXPECT_EQ(newRecord(), JSONValue::object({{"role", "courier"}, {"isActive", true}, {"requiresAck", true}}));
  EXPECT_EQ(editorHeading(PanelPage::vehicles, true), "Добавить · Курьеры");
  EXPECT_EQ(editorHeading(PanelPage::zones, false), "Изменить · Геозоны");

  EXPECT_TRUE(showsRolePicker(PanelPage::vehicles, JSONValue()));
  EXPECT_FALSE(showsRolePicker(PanelPage::vehicles, JSONValue::object({{"role", "admin"}})));
  EXPECT_FALSE(showsRolePicker(PanelPage::clients, JSONValue()));
  EXPECT_EQ(roleChoice(JSONValue::object({{"role", "logist"}})), 1u);
  EXPECT_EQ(roleChoice(JSONValue::object({{"role", "owner"}})), std::nullopt);

  EXPECT_EQ(phonesText(JSONValue::object({{"phones", JSONValue::array({"+7 900", 79001234567.0})}})),
            "+7 900, 79001234567");
  EXPECT_EQ(phonesText(JSONValue::object({})), "");
  EXPECT_EQ(JSONValue(phonesArray(" , ,\t,")), JSONValue::array({}));
  EXPECT_EQ(JSONValue(phonesArray(" +7 900 ,\t+7 901\n,")), JSONValue::array({"+7 900", "+7 901\n"}));

  const JSONValue points = JSONValue::object(
      {{"points",
        JSONValue::array({JSONValue::array({55.7, 37.6}), JSONValue::array({55.8}), JSONValue::array({91, 37.6}),
                          JSONValue::array({"55,75", "37,65"}), JSONValue::array({55.7, 37.6, 1}), "55.7,37.6"})}});
  const std::vector<MapPoint> polygon = polygonOf(points);
  ASSERT_EQ(polygon.size(), 2u);
  EXPECT_EQ(polygon[1], (MapPoint{55.75, 37.65}));
  const std::vector<MapPin> pins = vertexPins(polygon);
  EXPECT_EQ(pins[1].id, "1");
  EXPECT_EQ(pins[1].label, "Вершина 2");
  EXPECT_EQ(pins[1].number, "2");
  EXPECT_FALSE(pins[1].movable);
  EXPECT_EQ(pins[1].color, "#2d3e46");
  EXPECT_EQ(JSONValue(pointsOf(polygon)),
            JSONValue::array({JSONValue::array({55.7, 37.6}), JSONValue::array({55.75, 37.65})}));

  EXPECT_EQ(attachmentName(JSONValue(), JSONValue::object({{"fileName", "old.pdf"}})), "old.pdf");
  EXPECT_EQ(attachmentName(JSONValue::object({{"name", "new.pdf"}}), JSONValue::object({{"fileName", "old.pdf"}})),
            "new.pdf");
}

TEST(EditorRules, SaveChecksInOrderAndTheBodiesOfEachPage) {
  // Couriers: the role goes along unless the record is an administrator's; a new account needs 8 characters.
  JSONValue courier =
      JSONValue::object({{"fullName", "Тарен"}, {"login", "taren"}, {"phone", "+7"}, {"role", "courier"}});
  EXPECT_EQ(refusal(inputFor(PanelPage::vehicles, JSONValue(), courier)),
            "Пароль должен содержать минимум 8 символов.");
  courier.set("password", "ёжик-123");  // 8 characters, 10 bytes
  JSONValue body = saveBody(inputFor(PanelPage::vehicles, JSONValue(), courier));
  EXPECT_EQ(body, JSONValue::object({{"fullName", "Тарен"},
                                     {"login", "taren"},
                                     {"phone", "+7"},
                                     {"password", "ёжик-123"},
                                     {"isBlocked", false},
                                     {"role", "courier"}}));
  courier.set("password", "ёжик-12");
  EXPECT_EQ(refusal(inputFor(PanelPage::vehicles, JSONValue(), courier)),
            "Пароль должен содержать минимум 8 символов.");
  courier.set("password", "");
  const JSONValue admin = JSONValue::object({{"id", "a"}, {"role", "admin"}});
  body = saveBody(inputFor(PanelPage::vehicles, admin, courier));
  EXPECT_FALSE(body.contains("role"));
  EXPECT_FALSE(body.contains("password"));
  courier.erase("role");
  EXPECT_TRUE(saveBody(inputFor(PanelPage::vehicles, JSONValue::object({{"id", "k"}}), courier))["role"].isNull());
  courier.set("phone", " ");
  EXPECT_EQ(refusal(inputFor(PanelPage::vehicles, JSONValue(), courier)), "Заполните поле «Телефон».");

  // Clients: phones, then every address row's coordinates.
  EditorInput client = inputFor(PanelPage::clients, JSONValue(), JSONValue::object({{"name", "Зёрна"}}));
  client.phones = "+7 900, , +7 901";
  client.clientAddresses = {JSONValue::object({{"address", "Тверская, 6"}, {"lat", "55,7"}, {"lon", 37.6}, {"id", 4}}),
                            JSONValue::object({{"address", ""}, {"lat", ""}, {"isPrimary", true}})};
  body = saveBody(client);
  EXPECT_EQ(body["phones"], JSONValue::array({"+7 900", "+7 901"}));
  EXPECT_EQ(body["addresses"],
            JSONValue::array(
                {JSONValue::object({{"address", "Тверская, 6"}, {"lat", 55.7}, {"lon", 37.6}, {"id", 4}}),
                 JSONValue::object({{"address", ""}, {"lat", nullptr}, {"lon", nullptr}, {"isPrimary", true}})}));
  const std::pair<JSONValue, const char*> rows[] = {
      {JSONValue::object({{"lat", "север"}, {"lon", 37}}), "Проверьте координаты адресов."},
      {JSONValue::object({{"lat", "nan"}, {"lon", 37}}), "Проверьте координаты адресов."},
      {JSONValue::object({{"lat", 95}, {"lon", 37}}), "Введите корректную пару координат."},
      {JSONValue::object({{"lat", 55}}), "Введите корректную пару координат."},
      {JSONValue::object({{"lat", 55}, {"lon", -180.5}}), "Введите корректную пару координат."},
      {JSONValue::object({{"lat", -90}, {"lon", 180}}), ""},
  };
  for (const auto& [row, message] : rows) {
    client.clientAddresses = {row};
    EXPECT_EQ(refusal(client), message) << row.json();
  }

  // Zones need three vertices; documents send a chosen file, else null when removal is asked, else nothing.
  EditorInput area = inputFor(PanelPage::zones, JSONValue(), JSONValue::object({{"name", "Центр"}}));
  area.polygon = {{55.7, 37.5}, {55.8, 37.6}};
  EXPECT_EQ(refusal(area), "У зоны должно быть минимум три вершины.");
  area.polygon.push_back({55.7, 37.7});
  EXPECT_EQ(saveBody(area)["points"].size(), 3u);

  EditorInput document = inputFor(PanelPage::documents, JSONValue(), JSONValue::object({{"title", "Правила"}}));
  EXPECT_FALSE(saveBody(document).contains("file"));
  document.removeAttachment = true;
  EXPECT_TRUE(saveBody(document).contains("file"));
  EXPECT_TRUE(saveBody(document)["file"].isNull());
  document.attachment = JSONValue::object({{"name", "a.pdf"}, {"mime", "application/pdf"}, {"dataBase64", "AA=="}});
  EXPECT_EQ(saveBody(document)["file"]["name"], JSONValue("a.pdf"));

  EXPECT_EQ(refusal(inputFor(PanelPage::addresses, JSONValue(),
                             JSONValue::object({{"address", "x"}, {"lat", "5x"}, {"lon", 1}}))),
            "«Широта» должно быть числом.");
}

TEST(EditorRules, ZoneListsKeepOtherZonesAndTheServersMembersOfTheEditedOne) {
  const JSONValue answer = JSONValue::object(
      {{"zones", JSONValue::array({zone("Центр", JSONValue::object({{"id", 7}, {"speed", 20}, {"color", "#111111"}})),
                                   zone("Север"), zone("Центр", JSONValue::object({{"id", 8}}))})}});
  const JSONValue listed = zone("Центр", JSONValue::object({{"id", 7}, {"color", "#111111"}}));
  const JSONValue body = JSONValue::object(
      {{"name", "Центр-2"}, {"color", "#222222"}, {"vehicle", ""}, {"isHidden", false}, {"points", JSONArray{}}});
  const JSONArray saved = zonesAfterSave(answer, listed, body);
  ASSERT_EQ(saved.size(), 3u) << "the other zone of the same name stays";
  EXPECT_EQ(saved[0]["name"], JSONValue("Север"));
  EXPECT_EQ(saved[1]["id"], JSONValue(8));
  EXPECT_EQ(saved[2]["name"], JSONValue("Центр-2"));
  EXPECT_EQ(saved[2]["id"], JSONValue(7)) << "the server's own members stay";
  EXPECT_EQ(saved[2]["speed"], JSONValue(20));
  EXPECT_EQ(saved[2]["color"], JSONValue("#222222"));

  const JSONArray added = zonesAfterSave(answer, JSONValue(), zone("Север"));
  ASSERT_EQ(added.size(), 4u);
  EXPECT_EQ(added[3], zone("Север"));
  EXPECT_EQ(JSONValue(zonesAfterDelete(answer, listed)),
            JSONValue::array({zone("Север"), zone("Центр", JSONValue::object({{"id", 8}}))}));
}

// Zones without ids, two of one name: each is known by its place in the list the screen read, and a write is
// refused once the server's list is no longer that list (or the zone is gone), instead of touching the wrong one.
TEST(EditorRules, ZonesWithoutIdsAreKnownByTheirPlaceInTheListRead) {
  const JSONValue first = zone("Центр", JSONValue::object({{"color", "#111111"}}));
  const JSONValue second = zone("Центр", JSONValue::object({{"color", "#222222"}}));
  const JSONArray read{zone("Север"), first, second};
  const JSONValue answer = JSONValue::object({{"zones", read}});
  const JSONValue body = JSONValue::object({{"name", "Центр"}, {"color", "#333333"}});

  const JSONArray edited = zonesAfterSave(answer, second, body, ListedRecord{read, 2});
  EXPECT_EQ(JSONValue(edited), JSONValue::array({zone("Север"), first, zone("Центр", body)}));
  EXPECT_EQ(JSONValue(zonesAfterDelete(answer, first, ListedRecord{read, 1})),
            JSONValue::array({zone("Север"), second}));
  EXPECT_EQ(JSONValue(zonesAfterDelete(answer, second)), JSONValue::array({zone("Север"), first}))
      << "without a place, the zone equal to the record";

  const auto refusal = [](const std::function<void()>& write) {
    try {
      write();
    } catch (const DorvikError& error) {
      return error.message();
    }
    return std::string();
  };
  const JSONValue changed = JSONValue::object({{"zones", JSONArray{first, second}}});
  EXPECT_EQ(refusal([&] { zonesAfterDelete(changed, first, ListedRecord{read, 1}); }), kZonesChanged);
  EXPECT_EQ(refusal([&] { zonesAfterSave(changed, second, body, ListedRecord{read, 2}); }), kZonesChanged);
  EXPECT_EQ(refusal([&] {
              zonesAfterSave(answer, first, body, ListedRecord{read, 2});
            }),
            kZonesChanged)
      << "the listed place holds another zone";
  EXPECT_EQ(refusal([&] { zonesAfterDelete(JSONValue::object({}), zone("Юг")); }), kZonesChanged);
  EXPECT_EQ(refusal([&] { zonesAfterSave(answer, zone("Юг", JSONValue::object({{"id", 9}})), body); }), kZonesChanged);
  EXPECT_EQ(refusal([&] {
              zonesAfterSave(changed, JSONValue(), body, ListedRecord{read, 0});
            }),
            "")
      << "a new zone is appended to whatever the server holds";
}

// Every record path goes through the one id encoder: letters, marks and digits of any script stay, everything
// else (a hyphen included) is escaped, so a record reaches the server in the form every other screen sends.
// A row gone while its lookup ran (the list shorter, or empty) takes nothing, and nothing past the list is read.
TEST(EditorRules, ALookupWhoseRowIsGoneAppliesNowhere) {
  const JSONValue row = JSONValue::object({{"address", "Арбат, 1"}});
  const std::tuple<std::vector<JSONValue>, std::size_t, bool> cases[] = {
      {{row}, 0, true}, {{row}, 1, false}, {{}, 0, false}};
  for (const auto& [rows, index, applies] : cases)
    EXPECT_EQ(lookupApplies(rows, index, "Арбат, 1", JSONValue(), JSONValue()), applies) << rows.size() << index;
}

TEST(EditorRules, RecordPathsEncodeTheIdentifierWithTheOneIdEncoder) {
  const std::pair<const char*, const char*> ids[] = {
      {"a-1", "/admin/couriers/a%2D1"},       {"doc 1/2", "/admin/couriers/doc%201%2F2"},
      {"a?b#c", "/admin/couriers/a%3Fb%23c"}, {"50%", "/admin/couriers/50%25"},
      {"Ёж", "/admin/couriers/Ёж"},           {"..", "/admin/couriers/%2E%2E"},
  };
  for (const auto& [id, path] : ids)
    EXPECT_EQ(recordPath("/admin/couriers", JSONValue::object({{"id", id}})), path) << id;
  EXPECT_EQ(recordPath("/admin/couriers", JSONValue::object({{"id", 12}})), "/admin/couriers/12");
}

TEST(UploadFiles, SizeLimitMimeTypesAndDisplayName) {
  char folder[] = "/tmp/dorvik-upload-XXXXXX";
  ASSERT_NE(g_mkdtemp(folder), nullptr);
  const std::filesystem::path dir = folder;
  auto write = [&](const std::string& name, std::size_t size) {
    std::ofstream(dir / name, std::ios::binary) << std::string(size, 'x');
    return (dir / name).string();
  };
  const JSONValue exact = attachmentOf(write("Договор.pdf", static_cast<std::size_t>(kUploadLimit)));
  EXPECT_EQ(exact["name"], JSONValue("Договор.pdf"));
  EXPECT_EQ(exact["mime"], JSONValue("application/pdf"));
  EXPECT_EQ(exact["dataBase64"].string().size(), (static_cast<std::size_t>(kUploadLimit) + 2) / 3 * 4);
  try {
    attachmentOf(write("big.pdf", static_cast<std::size_t>(kUploadLimit) + 1));
    ADD_FAILURE() << "accepted";
  } catch (const DorvikError& e) {
    EXPECT_EQ(e.message(), "Файл должен быть не больше 8 МБ.");
  }
  EXPECT_EQ(attachmentOf(write("notes.zzqq", 3))["mime"], JSONValue("application/octet-stream"));
  EXPECT_EQ(attachmentOf(write("Makefile", 3))["mime"], JSONValue("application/octet-stream"));
  EXPECT_EQ(mimeForName("photo.JPG"), "image/jpeg");
  EXPECT_EQ(mimeForName("a.txt"), "text/plain");
  EXPECT_EQ(mimeForName("archive."), "application/octet-stream");
  std::filesystem::remove_all(dir);
}

TEST_F(Editor, PrepareFillsTheWorkingCopyAndLoadsAnExistingDocument) {
  auto courier = editor(PanelPage::vehicles, JSONValue());
  EXPECT_EQ((*courier->value())["role"], JSONValue("courier"));
  EXPECT_EQ(courier->roleChoice(), 0u);
  EXPECT_FALSE(courier->showsDelete());
  EXPECT_TRUE(fake.calls.empty());

  auto client = editor(PanelPage::clients,
                       JSONValue::object({{"id", "c1"},
                                          {"phones", JSONValue::array({"1", "2"})},
                                          {"addresses", JSONValue::array({JSONValue::object({{"address", "A"}})})}}));
  EXPECT_EQ(client->phones(), "1, 2");
  ASSERT_EQ(client->clientAddresses().size(), 1u);
  client->addClientAddress();
  EXPECT_EQ((*client->clientAddresses()[1])["isPrimary"], JSONValue(false));
  auto fresh = editor(PanelPage::clients, JSONValue());
  fresh->addClientAddress();
  fresh->addClientAddress();
  EXPECT_EQ(*fresh->clientAddresses()[0], JSONValue::object({{"address", ""}, {"isPrimary", true}}));
  EXPECT_EQ((*fresh->clientAddresses()[1])["isPrimary"], JSONValue(false));

  const JSONValue listed =
      JSONValue::object({{"id", "doc/1"}, {"title", "Правила"}, {"hasFile", true}, {"fileName", "r.pdf"}});
  auto document = editor(PanelPage::documents, listed);
  ASSERT_EQ(fake.log(), std::vector<std::string>{"GET /admin/documents/doc%2F1"});
  EXPECT_TRUE(document->showsRemoveAttachment());
  EXPECT_EQ(document->attachmentName(), "r.pdf");
  FakeGateway::finish(fake.last(), JSONValue::object({{"id", "doc/1"}, {"title", "Правила"}, {"body", "Текст"}}));
  ASSERT_TRUE(spinUntil([&] { return (*document->value())["body"] == JSONValue("Текст"); }));

  auto failed = editor(PanelPage::documents, listed);
  FakeGateway::fail(fake.last(), "Документ не найден.", 404);
  ASSERT_TRUE(spinUntil([&] { return failed->issue().has_value(); }));
  EXPECT_EQ(*failed->issue(), "Документ не найден.");
  EXPECT_EQ(*failed->value(), listed);
}

// A refused file's message goes once a file is taken.
TEST_F(Editor, AFileTakenWithdrawsTheRefusalOfTheFileBefore) {
  char folder[] = "/tmp/dorvik-attach-XXXXXX";
  ASSERT_NE(g_mkdtemp(folder), nullptr);
  const std::filesystem::path dir = folder;
  std::ofstream(dir / "big.pdf", std::ios::binary) << std::string(static_cast<std::size_t>(kUploadLimit) + 1, 'x');
  std::ofstream(dir / "a.pdf", std::ios::binary) << "%PDF";
  auto document = editor(PanelPage::documents, JSONValue());
  document->attach((dir / "big.pdf").string());
  EXPECT_EQ(document->issue(), "Файл должен быть не больше 8 МБ.");
  document->attach((dir / "a.pdf").string());
  EXPECT_EQ(document->issue(), std::nullopt);
  EXPECT_EQ(document->attachmentName(), "a.pdf");
  std::filesystem::remove_all(dir);
}

TEST_F(Editor, SavesAndDeletesThroughThePagesRequestsThenRefreshAndClose) {
  auto created = editor(PanelPage::clients, JSONValue());
  created->value()->set("name", "Зёрна");
  created->setPhones("+7 900");
  created->save();
  ASSERT_EQ(fake.log(), std::vector<std::string>{"POST /panel/clients"});
  EXPECT_EQ((*fake.last()->body)["phones"], JSONValue::array({"+7 900"}));
  EXPECT_TRUE(created->saving());
  EXPECT_TRUE(created->footerBusy());
  created->save();  // busy: nothing more is sent
  EXPECT_EQ(fake.calls.size(), 1u);
  FakeGateway::finish(fake.last(), JSONValue::object({}));
  ASSERT_TRUE(spinUntil([&] { return dismissed == 1; }));
  EXPECT_EQ(refreshed, std::vector<std::size_t>{1});
  EXPECT_FALSE(created->saving());

  // An existing record is changed at its encoded path; a failure keeps the sheet with its message.
  auto changed = editor(PanelPage::companies, JSONValue::object({{"id", "ООО-1"}, {"name", "Север"}}));
  changed->save();
  EXPECT_EQ(fake.last()->method + " " + fake.last()->path, "PATCH /staff/companies/ООО%2D1");
  FakeGateway::fail(fake.last(), "Компания не найдена.", 404);
  ASSERT_TRUE(spinUntil([&] { return !changed->saving(); }));
  EXPECT_EQ(changed->issue(), "Компания не найдена.");
  EXPECT_EQ(dismissed, 1);
  EXPECT_FALSE(changed->showsDelete()) << "companies are never deleted here";

  // Delete: one busy state with save, so a second press sends nothing.
  auto removed = editor(PanelPage::vehicles, JSONValue::object({{"id", "k-1"}, {"role", "courier"}}));
  EXPECT_TRUE(removed->canDelete());
  removed->remove();
  removed->remove();
  removed->save();
  EXPECT_EQ(fake.last()->method + " " + fake.last()->path, "DELETE /admin/couriers/k%2D1");
  EXPECT_FALSE(fake.last()->body);
  EXPECT_FALSE(removed->canDelete());
  EXPECT_TRUE(removed->footerBusy());
  const std::size_t sent = fake.calls.size();
  FakeGateway::finish(fake.last(), JSONValue::object({}));
  ASSERT_TRUE(spinUntil([&] { return dismissed == 2; }));
  EXPECT_EQ(fake.calls.size(), sent);

  // The demo and an offline workspace keep the save busy (but for addresses offline).
  fake.canWrite = false;
  EXPECT_TRUE(editor(PanelPage::zones, JSONValue())->footerBusy());
  EXPECT_FALSE(editor(PanelPage::addresses, JSONValue())->footerBusy());
  fake.preview = true;
  EXPECT_TRUE(editor(PanelPage::addresses, JSONValue())->footerBusy());
}

TEST_F(Editor, ZonesAreReadAndWrittenWholeThenTheReferenceDataReloadsBeforeTheList) {
  fake.autoAnswer = [](const FakeCall& call) -> std::optional<JSONValue> {
    if (call.method == "GET")
      return JSONValue::object(
          {{"zones", JSONValue::array({zone("Центр", JSONValue::object({{"id", 1}})), zone("Юг")})}});
    return JSONValue::object({});
  };
  auto area = editor(
      PanelPage::zones,
      zone("Центр", JSONValue::object({{"id", 1}, {"points", JSONValue::array({JSONValue::array({55.7, 37.5})})}})));
  ASSERT_EQ(area->polygon().size(), 1u);
  area->save();
  EXPECT_EQ(area->issue(), "У зоны должно быть минимум три вершины.");
  EXPECT_TRUE(fake.calls.empty());
  area->onMapInteraction(MapInteraction::select("0", false));
  area->onMapInteraction(MapInteraction::move("0", {55, 37}));
  EXPECT_EQ(area->polygon().size(), 1u) << "only added vertices change the boundary";
  area->onMapInteraction(MapInteraction::addVertex({55.8, 37.6}));
  area->onMapInteraction(MapInteraction::addVertex({55.9, 37.9}));
  area->onMapInteraction(MapInteraction::addVertex({55.1, 37.1}));
  area->undoVertex();
  ASSERT_EQ(area->polygon().size(), 3u);
  area->value()->set("name", "Центр-2");
  area->save();
  ASSERT_TRUE(spinUntil([&] { return dismissed == 1; }));
  EXPECT_EQ(fake.log(), (std::vector<std::string>{"GET /panel/zones", "PUT /panel/zones", "refreshReferenceData"}));
  EXPECT_EQ(refreshed, std::vector<std::size_t>{3}) << "the list reloads after the reference data";
  const JSONValue& written = (*fake.of("PUT")[0]->body)["zones"];
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written.at(0)["name"], JSONValue("Юг"));
  EXPECT_EQ(written.at(1)["name"], JSONValue("Центр-2"));
  EXPECT_EQ(written.at(1)["id"], JSONValue(1));
  EXPECT_EQ(written.at(1)["points"].size(), 3u);

  fake.calls.clear();
  auto removed = editor(PanelPage::zones, zone("Юг"));
  removed->remove();
  ASSERT_TRUE(spinUntil([&] { return dismissed == 2; }));
  EXPECT_EQ(fake.log(), (std::vector<std::string>{"GET /panel/zones", "PUT /panel/zones", "refreshReferenceData"}));
  EXPECT_EQ((*fake.of("PUT")[0]->body)["zones"], JSONValue::array({zone("Центр", JSONValue::object({{"id", 1}}))}));

  // A failed read writes nothing.
  fake.calls.clear();
  fake.autoAnswer = nullptr;
  auto failing = editor(PanelPage::zones, zone("Юг"));
  failing->remove();
  FakeGateway::fail(fake.last(), "Нет связи.", 0);
  ASSERT_TRUE(spinUntil([&] { return !failing->saving(); }));
  EXPECT_EQ(fake.log(), std::vector<std::string>{"GET /panel/zones"});
  EXPECT_EQ(failing->issue(), "Нет связи.");
}

// A save whose answer was lost may have stored the record: the editor says so (retyping it would make a second
// one), and the list is read again until a read reaches the server. A read that failed stored nothing.
TEST_F(Editor, ASaveWhoseAnswerWasLostSaysSoAndTheListFollowsTheConnection) {
  auto clients = DataScreenController::create(PanelPage::clients, fake.gateway());
  clients->follow();
  ASSERT_TRUE(spinUntil([&] { return fake.of("GET").size() == 1; }));
  FakeGateway::finish(fake.last(), JSONValue::object({{"clients", JSONArray{}}}));
  auto created = editor(PanelPage::clients, JSONValue());
  created->onOutcomeUnknown([&] { clients->reloadWhenOnline(20ms); });
  created->value()->set("name", "Кофейня «Зёрна»");
  created->save();
  ASSERT_EQ(fake.last()->method, "POST");
  fake.last()->failure = std::make_exception_ptr(TransportError(TransportError::Code::NetworkConnectionLost));
  fake.last()->done = true;
  fake.offline = true;
  ASSERT_TRUE(spinUntil([&] { return !created->saving(); }));
  EXPECT_EQ(created->issue(), std::string("Соединение с сервером прервалось. ") + kMaybeSaved);
  EXPECT_EQ(dismissed, 0) << "the sheet keeps what was typed";

  // Still offline: the saved copy answers and the list is asked for again; then the server answers.
  ASSERT_TRUE(spinUntil([&] { return fake.of("GET").size() == 2; }));
  FakeGateway::finish(fake.last(), JSONValue::object({{"clients", JSONArray{}}}));
  ASSERT_TRUE(spinUntil([&] { return fake.of("GET").size() == 3; }));
  fake.offline = false;
  FakeGateway::finish(
      fake.last(),
      JSONValue::object(
          {{"clients", JSONValue::array({JSONValue::object({{"id", "cli-1"}, {"name", "Кофейня «Зёрна»"}})})}}));
  ASSERT_TRUE(spinUntil([&] { return clients->rows().size() == 1; }));
  spinFor(100ms);
  EXPECT_EQ(fake.of("GET").size(), 3u) << "online again: no more reads";

  // A second «Сохранить» reads the list before anything goes out again. The record is not there: the user is asked,
  // and only the resend agreed to posts it.
  created->save();
  ASSERT_EQ(fake.last()->method + " " + fake.last()->path, "GET /panel/clients");
  FakeGateway::finish(fake.last(), JSONValue::object({{"clients", JSONArray{}}}));
  ASSERT_TRUE(spinUntil([&] { return resendQuestions == 1 && !created->saving(); }));
  EXPECT_EQ(fake.of("POST").size(), 1u);
  created->resend();
  ASSERT_EQ(fake.of("POST").size(), 2u);
  fake.last()->failure = std::make_exception_ptr(TransportError(TransportError::Code::TimedOut));
  fake.last()->done = true;
  ASSERT_TRUE(spinUntil([&] { return !created->saving(); }));
  // Lost again, and this time stored: the list holds it, and the note typed since goes to that record.
  created->value()->set("note", "Вход со двора");
  created->save();
  FakeGateway::finish(fake.last(), JSONValue::object({{"clients", JSONValue::array({JSONValue::object(
                                                                      {{"id", "cli-1"}, {"name", "Кофейня «Зёрна»"}})})}}));
  ASSERT_TRUE(spinUntil([&] { return fake.last()->method == "PATCH"; }));
  EXPECT_EQ(fake.last()->path, "/panel/clients/cli%2D1");
  EXPECT_EQ((*fake.last()->body)["note"], JSONValue("Вход со двора"));
  FakeGateway::finish(fake.last(), JSONValue::object({}));
  ASSERT_TRUE(spinUntil([&] { return dismissed == 1; }));
  EXPECT_EQ(fake.of("POST").size(), 2u);

  // A zone save whose list could not be read wrote nothing, and says what failed.
  auto zoneEditor = editor(PanelPage::zones, zone("Юг", JSONValue::object({{"id", "z1"}})));
  for (MapPoint point : {MapPoint{55.7, 37.5}, MapPoint{55.8, 37.6}, MapPoint{55.7, 37.7}})
    zoneEditor->addVertex(point);
  zoneEditor->save();
  fake.last()->failure = std::make_exception_ptr(TransportError(TransportError::Code::TimedOut));
  fake.last()->done = true;
  ASSERT_TRUE(spinUntil([&] { return !zoneEditor->saving(); }));
  EXPECT_EQ(zoneEditor->issue(), "Сервер не ответил вовремя.");
}

TEST_F(Editor, AddressesGoToTheAddressMemoryWithinRange) {
  auto address = editor(PanelPage::addresses, JSONValue());
  address->value()->set("address", "Москва, Тверская, 6");
  address->value()->set("lat", "90,5");
  address->value()->set("lon", "-180");
  address->save();
  ASSERT_TRUE(spinUntil([&] { return !address->saving(); }));
  EXPECT_EQ(address->issue(), "Координаты вне диапазона.");
  EXPECT_TRUE(fake.calls.empty());
  address->value()->set("lat", "90");
  address->save();
  ASSERT_TRUE(spinUntil([&] { return dismissed == 1; }));
  ASSERT_EQ(fake.log(), std::vector<std::string>{"remember Москва, Тверская, 6"});
  EXPECT_EQ(*fake.last()->body, JSONValue::array({90, -180}));
}

TEST_F(Editor, LookupWritesCoordinatesOnlyIntoTheUnchangedRow) {
  auto client =
      editor(PanelPage::clients,
             JSONValue::object({{"id", "c1"},
                                {"addresses", JSONValue::array({JSONValue::object({{"address", "Тверская, 6"}}),
                                                                JSONValue::object({{"address", "Арбат, 1"}})})}}));
  auto found = [](const char* qc) {
    return JSONValue::object({{"found", JSONValue::object({{"lat", 55.76}, {"lon", "37.61"}, {"qc", qc}})}});
  };
  // The rows learn of every lookup's end (their «Ищем координаты…» and disabled buttons go): the last word to them
  // finds no lookup running.
  bool toldRunning = false;
  connections.push_back(client->observe([&](RecordEditorController::Change change) {
    if (change == RecordEditorController::Change::lookup) toldRunning = client->lookupIndex().has_value();
  }));
  auto ended = [&] { return spinUntil([&] { return !client->lookupIndex(); }) && !toldRunning; };

  client->lookup(0);
  EXPECT_EQ(client->lookupIndex(), 0u);
  EXPECT_FALSE(client->canChangeAddresses());
  client->lookup(1);  // one at a time
  ASSERT_EQ(fake.log(), std::vector<std::string>{"lookup Тверская, 6"});
  FakeGateway::finish(fake.last(), found("0"));
  ASSERT_TRUE(ended());
  EXPECT_EQ((*client->clientAddresses()[0])["lat"], JSONValue(55.76));
  EXPECT_EQ((*client->clientAddresses()[0])["lon"], JSONValue("37.61")) << "as the lookup returns it";
  EXPECT_FALSE(client->issue());

  client->lookup(1);
  client->clientAddresses()[1]->set("address", "Арбат, 10");  // edited meanwhile
  FakeGateway::finish(fake.last(), found("0"));
  ASSERT_TRUE(ended());
  EXPECT_TRUE((*client->clientAddresses()[1])["lat"].isNull());
  EXPECT_FALSE(client->issue());

  client->lookup(1);
  FakeGateway::finish(fake.last(), found("1"));
  ASSERT_TRUE(ended());
  EXPECT_EQ(client->issue(), "Адрес нужно уточнить вручную.");
  EXPECT_TRUE((*client->clientAddresses()[1])["lat"].isNull());

  client->lookup(1);
  client->stopLookup();
  ASSERT_TRUE(ended());
  EXPECT_EQ(client->issue(), "Поиск остановлен.");
  EXPECT_TRUE(client->canChangeAddresses());
  client->removeClientAddress(1);
  EXPECT_EQ(client->clientAddresses().size(), 1u);
}
