// The document details and the courier files over the real application model and API client against the stand-in
// server: an administrator attaches a courier file and downloads it byte for byte; a document shows its text,
// acknowledgements and attachment; a logist reads everything and is refused every write; the demo answers both
// sheets. (Deleting after confirmation is shown in the admin window's test.)
#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>
#include <fstream>

#include "admin/logic/courier_files.h"
#include "admin/logic/document_details.h"
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

class FilesOverTheServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/dorvik-files-server-XXXXXX";
    ASSERT_NE(g_mkdtemp(folder), nullptr);
    folder_ = folder;
    desk.list("couriers") = JSONValue::array(
        {JSONValue::object({{"id", "c-1"}, {"fullName", "Пётр Курьеров"}, {"login", "petr"}, {"phone", "+7 900"}})});
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void signIn(const std::string& role) {
    model->setCache(freshCache());
    model->setApi(desk.signIn(role));
    model->setUser(AdminDesk::user(role));
  }
  // The model's gateway, with the save dialog replaced by a record of what it was offered.
  AdminGateway gateway() {
    AdminGateway g = modelGateway(model);
    g.saveFile = [this](std::string bytes, std::string name) { saved.emplace_back(std::move(name), std::move(bytes)); };
    return g;
  }
  std::shared_ptr<CourierFilesController> courierFiles() {
    auto files = CourierFilesController::create(Record(desk.list("couriers").at(0), "0"), gateway());
    files->load();
    EXPECT_TRUE(spinUntil([&] { return !files->state()->loading(); }));
    return files;
  }
  std::string file(const std::string& name, const std::string& content) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::vector<Hit> writes() const {
    std::vector<Hit> out;
    for (const Hit& hit : server.allHits())
      if (hit.method != "GET" && hit.path != "/auth/login") out.push_back(hit);
    return out;
  }

  StandInServer server;
  AdminDesk desk{server};
  std::shared_ptr<AppModel> model = AppModel::create();
  std::string folder_;
  std::vector<std::pair<std::string, std::string>> saved;  // name, bytes
};

const std::string kContent("%PDF-1.7\0\xFF\xD0\x9F", 12);

}  // namespace

TEST_F(FilesOverTheServer, AnAdministratorAttachesAndDownloadsACourierFileByteForByte) {
  signIn("admin");
  auto files = courierFiles();

  files->setNote(" первый договор ");
  files->attach(file("Договор.pdf", kContent), files->chooserOpened());
  ASSERT_TRUE(spinUntil([&] { return files->files().size() == 1; })) << files->state()->issue().value_or("");
  ASSERT_EQ(writes().size(), 1u);
  const Hit posted = writes()[0];
  EXPECT_EQ(posted.method + " " + posted.path, "POST /admin/couriers/c-1/files");
  EXPECT_EQ(posted.json(), JSONValue::object({{"name", "Договор.pdf"},
                                              {"mimeType", "application/pdf"},
                                              {"dataBase64", encodeBase64(kContent)},
                                              {"note", " первый договор "}}));
  EXPECT_EQ(files->note(), "");

  files->download(files->files()[0]);
  ASSERT_TRUE(spinUntil([&] { return saved.size() == 1; }));
  EXPECT_EQ(saved[0], std::make_pair(std::string("Договор.pdf"), kContent));
}

TEST_F(FilesOverTheServer, ADocumentShowsItsTextAcknowledgementsAndAttachment) {
  signIn("admin");
  JSONValue document = JSONValue::object({{"id", "d-1"}, {"body", "Проверьте адреса."}});
  desk.setDocument("d-1", document);  // no stored file yet
  document.set("fileName", "памятка.pdf");
  document.set("file", JSONValue::object({{"mime", "application/pdf"}, {"dataBase64", encodeBase64(kContent)}}));
  desk.setAcks("d-1", JSONValue::object({{"acked", "1"},
                                         {"total", 2},
                                         {"couriers", JSONValue::array({
                                                          JSONValue::object({{"id", "c-1"}, {"ackedAt", "09:00"}}),
                                                          JSONValue::object({{"id", "c-2"}}),
                                                      })}}));
  DocumentDetailsController details(Record(JSONValue::object({{"id", "d-1"}}), "0"), gateway());
  details.load();
  ASSERT_TRUE(spinUntil([&] { return !details.acknowledgments()->value().isNull(); }));
  EXPECT_EQ(details.body(), "Проверьте адреса.");
  EXPECT_EQ(details.countText(), "1 из 2");
  ASSERT_EQ(details.couriers().size(), 2u);
  EXPECT_EQ(ackedAtText(details.couriers()[0].value), "09:00");
  EXPECT_EQ(ackedAtText(details.couriers()[1].value), "Ещё нет");

  // Without a stored file the failed download shows under the header and the text stays; then it is saved.
  details.saveAttachment();
  ASSERT_TRUE(spinUntil([&] { return details.content()->issue().has_value(); }));
  EXPECT_EQ(details.content()->issue(), "Файл не найден.");
  EXPECT_EQ(details.body(), "Проверьте адреса.");
  desk.setDocument("d-1", document);
  details.saveAttachment();
  ASSERT_TRUE(spinUntil([&] { return saved.size() == 1; }));
  EXPECT_EQ(saved[0].second, kContent);
}

TEST_F(FilesOverTheServer, ALogistReadsButEveryWriteIsRefused) {
  desk.courierFiles("c-1").push_back(
      JSONValue::object({{"id", "cf-0"}, {"name", "a.txt"}, {"mimeType", "text/plain"}, {"data", "x"}}));
  signIn("logist");
  auto files = courierFiles();
  ASSERT_EQ(files->files().size(), 1u) << "reading is allowed";
  EXPECT_FALSE(files->canAttach()) << "the buttons say an administrator does it";
  EXPECT_FALSE(files->canDelete());
  files->download(files->files()[0]);
  ASSERT_TRUE(spinUntil([&] { return saved.size() == 1; }));

  files->setNote("мой");
  files->attach(file("b.txt", "y"), files->chooserOpened());
  ASSERT_TRUE(spinUntil([&] { return files->state()->issue().has_value(); }));
  EXPECT_EQ(files->note(), "мой") << "the comment stays after a refusal";
  files->state()->setIssue(std::nullopt);
  files->setDeleting(files->files()[0]);
  files->confirmDelete();
  ASSERT_TRUE(spinUntil([&] { return files->state()->issue().has_value(); }));
  EXPECT_EQ(files->state()->issue(), AdminDesk::kForbidden);
  EXPECT_EQ(writes().size(), 2u) << "one attempt each";
  EXPECT_EQ(desk.courierFiles("c-1").size(), 1u);
}

TEST_F(FilesOverTheServer, TheDemoAnswersBothSheetsThroughEncodedPathsAndOffersNoAction) {
  model->setEngine(async::runBlocking(PlannerEngine::create()));
  async::runBlocking(model->loadPreview());
  DocumentDetailsController details(Record(JSONValue::object({{"id", "preview-document"}}), "0"), gateway());
  details.load();
  ASSERT_TRUE(spinUntil([&] { return !details.acknowledgments()->value().isNull(); }));
  EXPECT_FALSE(details.body().empty());
  EXPECT_EQ(details.countText(), "0 из 1");

  auto files = CourierFilesController::create(Record(JSONValue::object({{"id", "preview-courier"}}), "0"), gateway());
  files->load();
  ASSERT_TRUE(spinUntil([&] { return !files->state()->value().isNull(); }));
  EXPECT_TRUE(files->showsPlaceholder());
  EXPECT_FALSE(files->canAttach());
  EXPECT_TRUE(server.allHits().empty()) << "the demo asks no server";
}
