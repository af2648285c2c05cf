// The data screens and the record editor over the real application model against the stand-in server: an
// administrator adds, changes and deletes clients, addresses, zones, documents with an attachment and companies
// with awkward codes; a logist is offered only the writes the server takes from a logist. Each write is
// checked in the server's log.
#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>
#include <fstream>

#include "admin/logic/data_screen.h"
#include "admin/logic/record_editor.h"
#include "core/api/failure.h"
#include "core/base/base64.h"
#include "core/engine/planner_engine.h"
#include "model/app_model.h"
#include "support/async_helpers.h"
#include "support/fake_admin.h"
#include "support/workspace_helpers.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::testing;

namespace {

class AdminOverTheServer : public ::testing::Test {
 protected:
  void signIn(const std::string& role) {
    model->setEngine(async::runBlocking(PlannerEngine::create()));
    model->setCache(freshCache());
    model->setApi(desk.signIn(role));
    model->setUser(AdminDesk::user(role));
  }

  // The page's screen, loaded.
  std::shared_ptr<DataScreenController> screen(PanelPage page) {
    auto made = DataScreenController::create(page, modelGateway(model));
    made->follow();
    EXPECT_TRUE(spinUntil([&] { return !made->loading(); }));
    return made;
  }

  // An editor of the screen's page over a listed row (none: a new record), prepared as its sheet does.
  std::shared_ptr<RecordEditorController> editor(const std::shared_ptr<DataScreenController>& on,
                                                 const std::optional<Record>& row) {
    std::weak_ptr<DataScreenController> weak = on;
    auto made = RecordEditorController::create(
        on->page(), row ? row->value : JSONValue(), on->configuration(),
        [weak] { return DataScreenController::reload(weak); }, modelGateway(model),
        row ? on->listed(*row) : std::optional(on->shownList()));
    closed = false;
    connection = made->observe([this](RecordEditorController::Change change) {
      if (change == RecordEditorController::Change::dismissed) closed = true;
    });
    made->prepare();
    return made;
  }

  // Runs the editor's save (or delete) to its end; true when the sheet closed.
  bool finish(const std::shared_ptr<RecordEditorController>& edited) {
    EXPECT_TRUE(spinUntil([&] { return !edited->saving(); }));
    return closed;
  }

  std::vector<Hit> writes(const std::string& path) const {
    std::vector<Hit> out;
    for (const Hit& hit : server.allHits())
      if (hit.method != "GET" && hit.path.rfind(path, 0) == 0) out.push_back(hit);
    return out;
  }

  StandInServer server;
  AdminDesk desk{server};
  std::shared_ptr<AppModel> model = AppModel::create();
  bool closed = false;
  RecordEditorController::Connection connection;
};

}  // namespace

TEST_F(AdminOverTheServer, AnAdministratorAddsChangesAndDeletesClientsZonesDocumentsAndAddresses) {
  signIn("admin");

  // A client with two phones and an address.
  auto clients = screen(PanelPage::clients);
  EXPECT_EQ(clients->countText(), "0 записей");
  auto added = editor(clients, std::nullopt);
  added->value()->set("name", "Кофейня «Зёрна»");
  added->setPhones("+7 900 000-00-01, +7 900 000-00-02");
  added->addClientAddress();
  added->clientAddresses()[0]->set("address", "Москва, Тверская, 6");
  added->clientAddresses()[0]->set("lat", "55,7606");
  added->clientAddresses()[0]->set("lon", "37.6095");
  added->save();
  ASSERT_TRUE(finish(added)) << added->issue().value_or("");
  ASSERT_EQ(writes("/panel/clients").size(), 1u);
  const JSONValue posted = writes("/panel/clients")[0].json();
  EXPECT_EQ(writes("/panel/clients")[0].method, "POST");
  EXPECT_EQ(posted["phones"], JSONValue::array({"+7 900 000-00-01", "+7 900 000-00-02"}));
  EXPECT_EQ(posted["addresses"].at(0)["lat"], JSONValue(55.7606));
  EXPECT_EQ(posted["addresses"].at(0)["isPrimary"], JSONValue(true));
  ASSERT_EQ(clients->rows().size(), 1u) << "the list reloaded before the sheet closed";
  const Record client = clients->rows()[0];

  auto changed = editor(clients, client);
  EXPECT_EQ(changed->phones(), "+7 900 000-00-01, +7 900 000-00-02");
  changed->value()->set("note", "Вход со двора");
  changed->save();
  ASSERT_TRUE(finish(changed));
  EXPECT_EQ(writes("/panel/clients").back().method + " " + writes("/panel/clients").back().path,
            "PATCH /panel/clients/" + client.id());
  EXPECT_EQ(clients->rows()[0].value["note"], JSONValue("Вход со двора"));

  auto removed = editor(clients, clients->rows()[0]);
  removed->remove();
  ASSERT_TRUE(finish(removed));
  EXPECT_EQ(writes("/panel/clients").back().method, "DELETE");
  EXPECT_TRUE(writes("/panel/clients").back().body.empty());
  EXPECT_TRUE(clients->rows().empty());

  // A zone drawn on the map, renamed, then deleted; another zone's members are never touched.
  desk.list("zones") = JSONValue::array({JSONValue::object({{"name", "Юг"}, {"id", "z-south"}, {"speed", 30}})});
  auto zones = screen(PanelPage::zones);
  auto drawn = editor(zones, std::nullopt);
  drawn->value()->set("name", "Центр");
  for (MapPoint point : {MapPoint{55.75, 37.60}, MapPoint{55.76, 37.64}, MapPoint{55.73, 37.63}})
    drawn->onMapInteraction(MapInteraction::addVertex(point));
  drawn->save();
  ASSERT_TRUE(finish(drawn)) << drawn->issue().value_or("");
  EXPECT_EQ(writes("/panel/zones").size(), 1u);
  EXPECT_EQ(desk.list("zones").size(), 2u);
  EXPECT_EQ(desk.list("zones").at(0), JSONValue::object({{"name", "Юг"}, {"id", "z-south"}, {"speed", 30}}));
  EXPECT_EQ(desk.list("zones").at(1)["points"].at(2), JSONValue::array({55.73, 37.63}));
  EXPECT_EQ(model->zones().size(), 2u) << "the reference data reloaded";
  ASSERT_EQ(zones->rows().size(), 2u);

  desk.list("zones").mutableArray()[1].set("id", "z-centre");  // a member the server keeps on its own
  zones->refresh();
  ASSERT_TRUE(spinUntil([&] { return zones->rows()[1].value["id"] == JSONValue("z-centre"); }));
  auto renamed = editor(zones, zones->rows()[1]);
  EXPECT_EQ(renamed->polygon().size(), 3u);
  renamed->value()->set("name", "Центр-2");
  renamed->save();
  ASSERT_TRUE(finish(renamed));
  ASSERT_EQ(desk.list("zones").size(), 2u);
  EXPECT_EQ(desk.list("zones").at(1)["name"], JSONValue("Центр-2"));
  EXPECT_EQ(desk.list("zones").at(1)["id"], JSONValue("z-centre"));

  auto dropped = editor(zones, zones->rows()[1]);
  dropped->remove();
  ASSERT_TRUE(finish(dropped));
  EXPECT_EQ(desk.list("zones"),
            JSONValue::array({JSONValue::object({{"name", "Юг"}, {"id", "z-south"}, {"speed", 30}})}));

  // A document with an attachment, its file then removed, then the document deleted.
  char folder[] = "/tmp/dorvik-admin-XXXXXX";
  ASSERT_NE(g_mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/Правила склада.pdf";
  std::ofstream(path, std::ios::binary) << std::string("%PDF-1.4\n\x01\x02", 11);
  auto documents = screen(PanelPage::documents);
  auto written = editor(documents, std::nullopt);
  written->value()->set("title", "Правила склада");
  written->attach(path);
  EXPECT_EQ(written->attachmentName(), "Правила склада.pdf");
  written->save();
  ASSERT_TRUE(finish(written)) << written->issue().value_or("");
  const JSONValue file = writes("/admin/documents")[0].json()["file"];
  EXPECT_EQ(file["name"], JSONValue("Правила склада.pdf"));
  EXPECT_EQ(file["mime"], JSONValue("application/pdf"));
  EXPECT_EQ(decodeBase64(file["dataBase64"].string()), std::string("%PDF-1.4\n\x01\x02", 11));
  EXPECT_EQ(writes("/admin/documents")[0].json()["requiresAck"], JSONValue(true)) << "a new document asks for it";
  ASSERT_EQ(documents->rows().size(), 1u);
  EXPECT_EQ(documents->rows()[0].value["hasFile"], JSONValue(true));

  auto unfiled = editor(documents, documents->rows()[0]);
  ASSERT_TRUE(spinUntil([&] { return (*unfiled->value())["file"].isObject(); })) << "the whole document loads";
  EXPECT_TRUE(unfiled->showsRemoveAttachment());
  unfiled->setRemoveAttachment(true);
  unfiled->save();
  ASSERT_TRUE(finish(unfiled));
  EXPECT_EQ(writes("/admin/documents").back().method, "PATCH");
  EXPECT_TRUE(writes("/admin/documents").back().json().contains("file"));
  EXPECT_TRUE(writes("/admin/documents").back().json()["file"].isNull());
  EXPECT_EQ(documents->rows()[0].value["hasFile"], JSONValue(false));
  auto erased = editor(documents, documents->rows()[0]);
  erased->remove();
  ASSERT_TRUE(finish(erased));
  EXPECT_TRUE(documents->rows().empty());
  std::filesystem::remove_all(folder);

  // An address corrected by hand goes to the address memory, which uploads it.
  auto addresses = screen(PanelPage::addresses);
  auto corrected = editor(addresses, std::nullopt);
  corrected->value()->set("address", "Москва, улица Арбат, 10");
  corrected->value()->set("lat", "55.7502");
  corrected->value()->set("lon", "37,5935");
  corrected->save();
  ASSERT_TRUE(finish(corrected)) << corrected->issue().value_or("");
  ASSERT_TRUE(spinUntil([&] { return !writes("/panel/addresses").empty(); }));
  const JSONValue upload = writes("/panel/addresses")[0].json();
  ASSERT_EQ(upload["addresses"].size(), 1u);
  EXPECT_EQ(upload["addresses"].at(0)["address"], JSONValue("Москва, улица Арбат, 10"));
  EXPECT_EQ(upload["addresses"].at(0)["lon"], JSONValue(37.5935));
}

// The server reads each write and closes the connection without answering, every write coming after a read on the
// same kept connection: each reaches the server once, the editor says it may be stored, and a second «Сохранить»
// after a create finds the record in the list instead of sending it again.
TEST_F(AdminOverTheServer, AWriteWhoseAnswerIsLostReachesTheServerOnceAndMayHaveBeenStored) {
  signIn("admin");
  desk.list("clients") = JSONValue::array({JSONValue::object({{"id", "cli-old"}, {"name", "Булочная"}})});
  const JSONValue triangle = JSONValue::array(
      {JSONValue::array({55.75, 37.6}), JSONValue::array({55.76, 37.64}), JSONValue::array({55.73, 37.63})});
  desk.list("zones") = JSONValue::array({JSONValue::object({{"id", "z-south"}, {"name", "Юг"}, {"points", triangle}})});
  auto clients = screen(PanelPage::clients);
  auto online = [&] {
    clients->refresh();
    return spinUntil([&] { return !clients->loading() && !model->offline(); });
  };
  auto lose = [&](const std::shared_ptr<RecordEditorController>& edited, const std::string& method, bool deletes) {
    SCOPED_TRACE(method);
    server.loseNextAnswer(method);
    deletes ? edited->remove() : edited->save();
    EXPECT_FALSE(finish(edited));
    EXPECT_TRUE(edited->issue().value_or("").ends_with(std::string(" ") + kMaybeSaved)) << edited->issue().value_or("");
    EXPECT_TRUE(model->offline());
  };

  auto added = editor(clients, std::nullopt);
  added->value()->set("name", "Кофейня «Зёрна»");
  lose(added, "POST", false);
  ASSERT_TRUE(online());
  added->save();
  ASSERT_TRUE(finish(added)) << added->issue().value_or("");
  EXPECT_EQ(clients->rows().size(), 2u);

  auto changed = editor(clients, clients->rows()[0]);
  changed->value()->set("note", "Вход со двора");
  lose(changed, "PATCH", false);
  ASSERT_TRUE(online());
  auto removed = editor(clients, clients->rows()[0]);
  lose(removed, "DELETE", true);

  auto zones = screen(PanelPage::zones);
  auto renamed = editor(zones, zones->rows()[0]);
  renamed->value()->set("name", "Юг-2");
  lose(renamed, "PUT", false);

  EXPECT_EQ(server.hits("POST", "/panel/clients"), 1u);
  EXPECT_EQ(server.hits("PATCH", "/panel/clients/cli-old"), 1u);
  EXPECT_EQ(server.hits("DELETE", "/panel/clients/cli-old"), 1u);
  EXPECT_EQ(server.hits("PUT", "/panel/zones"), 1u);
  EXPECT_EQ(desk.list("zones").at(0)["name"], JSONValue("Юг-2"));
}

// Two zones of one name and no ids: each row is its own on the screen, editing one writes back both, deleting one
// leaves the other, and a list changed on the server since it was read is not written over.
TEST_F(AdminOverTheServer, TwoZonesOfOneNameAreEditedAndDeletedOneAtATime) {
  signIn("admin");
  const auto centre = [](const char* color) {
    return JSONValue::object({{"name", "Центр"}, {"color", color},
                              {"points", JSONValue::array({JSONValue::array({55.75, 37.6}),
                                                           JSONValue::array({55.76, 37.64}),
                                                           JSONValue::array({55.73, 37.63})})}});
  };
  desk.list("zones") = JSONValue::array({centre("#111111"), JSONValue::object({{"name", "Юг"}}), centre("#222222")});
  auto zones = screen(PanelPage::zones);
  ASSERT_EQ(zones->rows().size(), 3u);
  EXPECT_NE(zones->rowKey(zones->rows()[0]), zones->rowKey(zones->rows()[2]));
  zones->edit({zones->rowKey(zones->rows()[2])});
  ASSERT_TRUE(zones->editing());
  EXPECT_EQ(zones->editing()->value["color"], JSONValue("#222222")) << "the row chosen, not the first of its name";

  auto recoloured = editor(zones, *zones->editing());
  recoloured->value()->set("color", "#333333");
  recoloured->save();
  ASSERT_TRUE(finish(recoloured)) << recoloured->issue().value_or("");
  ASSERT_EQ(desk.list("zones").size(), 3u);
  EXPECT_EQ(desk.list("zones").at(0), centre("#111111")) << "the other zone of that name is untouched";
  EXPECT_EQ(desk.list("zones").at(2)["color"], JSONValue("#333333"));
  const JSONValue saved = desk.list("zones").at(2);

  // Someone adds a zone meanwhile: the delete is refused, nothing is written, and the list is read again.
  ASSERT_EQ(zones->rows()[0].value, centre("#111111"));
  auto removed = editor(zones, zones->rows()[0]);
  desk.list("zones").mutableArray().push_back(JSONValue::object({{"name", "Запад"}}));
  removed->remove();
  EXPECT_FALSE(finish(removed));
  EXPECT_EQ(removed->issue(), kZonesChanged);
  EXPECT_EQ(server.hits("PUT", "/panel/zones"), 1u);
  ASSERT_TRUE(spinUntil([&] { return zones->rows().size() == 4u; }));

  auto again = editor(zones, zones->rows()[0]);
  again->remove();
  ASSERT_TRUE(finish(again)) << again->issue().value_or("");
  EXPECT_EQ(desk.list("zones"),
            JSONValue::array({JSONValue::object({{"name", "Юг"}}), saved, JSONValue::object({{"name", "Запад"}})}));
}

TEST_F(AdminOverTheServer, CompanyCodesOfAnyCharactersReachTheirOwnRecord) {
  signIn("admin");
  auto companies = screen(PanelPage::companies);
  for (const char* code : {"ООО/Север 1", "a?b#c", "50%-скидка"}) {
    auto created = editor(companies, std::nullopt);
    created->value()->set("id", code);
    created->value()->set("name", std::string("Компания ") + code);
    created->save();
    ASSERT_TRUE(finish(created)) << code << ": " << created->issue().value_or("");
  }
  ASSERT_EQ(companies->rows().size(), 3u);
  const std::vector<Record> listed = companies->rows();  // each save reloads the list
  for (const Record& row : listed) {
    auto changed = editor(companies, row);
    changed->value()->set("tariffNote", "Базовый");
    changed->save();
    ASSERT_TRUE(finish(changed)) << row.id() << ": " << changed->issue().value_or("");
    EXPECT_EQ(writes("/staff/companies").back().method, "PATCH");
  }
  for (const JSONValue& company : desk.list("companies").array())
    EXPECT_EQ(company["tariffNote"], JSONValue("Базовый")) << company["id"].string();
}

// A logist changes clients and zones, and is offered no write on the couriers and documents, which the server takes
// only from an administrator: "Добавить" is disabled, Return on a row opens its details, and nothing is sent. A
// write the server refuses all the same keeps the editor open with the server's word.
TEST_F(AdminOverTheServer, ALogistIsOfferedTheWritesTheServerTakesFromALogistOnly) {
  desk.list("clients") = JSONValue::array({JSONValue::object({{"id", "c1"}, {"name", "Зёрна"}})});
  desk.list("zones") = JSONValue::array({JSONValue::object({{"name", "Юг"}})});
  desk.list("couriers") = JSONValue::array({JSONValue::object({{"id", "k1"}, {"fullName", "Пётр"}, {"login", "petr"}})});
  desk.list("documents") = JSONValue::array({JSONValue::object({{"id", "d1"}, {"title", "Правила"}})});
  signIn("logist");

  for (PanelPage page : {PanelPage::vehicles, PanelPage::documents}) {
    auto kept = screen(page);
    ASSERT_EQ(kept->rows().size(), 1u) << rawValue(page) << ": a logist reads the list";
    EXPECT_FALSE(kept->mayWrite());
    EXPECT_FALSE(kept->canAdd());
    kept->activate({kept->rowKey(kept->rows()[0])});
    EXPECT_FALSE(kept->editing()) << rawValue(page);
    EXPECT_TRUE(kept->detail()) << rawValue(page) << ": the details open instead";
    auto editor = this->editor(kept, kept->rows()[0]);
    EXPECT_TRUE(editor->footerBusy());
    EXPECT_FALSE(editor->canDelete());
    editor->save();
    editor->remove();
  }
  EXPECT_TRUE(writes("/admin/").empty());

  auto clients = screen(PanelPage::clients);
  EXPECT_TRUE(clients->canAdd());
  auto added = editor(clients, std::nullopt);
  added->value()->set("name", "Новый");
  added->save();
  ASSERT_TRUE(finish(added)) << added->issue().value_or("");
  ASSERT_EQ(clients->rows().size(), 2u);

  desk.failNext("DELETE", "/panel/clients/c1", 403, AdminDesk::kForbidden);
  auto removed = editor(clients, clients->rows()[0]);
  removed->remove();
  EXPECT_FALSE(finish(removed));
  EXPECT_EQ(removed->issue(), AdminDesk::kForbidden);
  EXPECT_EQ(desk.list("clients").size(), 2u);

  auto zones = screen(PanelPage::zones);
  auto zone = editor(zones, zones->rows()[0]);
  for (MapPoint point : {MapPoint{55.75, 37.60}, MapPoint{55.76, 37.64}, MapPoint{55.73, 37.63}})
    zone->addVertex(point);
  zone->save();
  ASSERT_TRUE(finish(zone)) << zone->issue().value_or("");
  EXPECT_EQ(desk.list("zones").at(0)["points"].size(), 3u);

  // A server failure of the list stays on the screen with the rows already shown.
  desk.failNext("GET", "/panel/clients", 500, "Сервер перегружен.");
  clients->refresh();
  ASSERT_TRUE(spinUntil([&] { return clients->issue().has_value(); }));
  EXPECT_EQ(*clients->issue(), "Сервер перегружен.");
  EXPECT_EQ(clients->rows().size(), 2u);
}
