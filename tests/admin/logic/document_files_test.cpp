// The document details and the courier files without a display: every path with its identifier encoded, the
// acknowledgement counts and rows, the order of the two loads, the attachment's download and save, the courier
// file body with its limits (size checked before reading, comment counted in user-perceived characters), the
// attach, delete and download flows over one loader, and the controls' enabled states.
#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>
#include <fstream>

#include "admin/logic/courier_files.h"
#include "admin/logic/document_details.h"
#include "admin/logic/fake_gateway.h"
#include "model/workbook_files.h"

using namespace dorvik;
using namespace dorvik::admin;
using namespace dorvik::admin::testing;

namespace {

Record row(JSONValue value) { return Record(std::move(value), "0"); }

std::string repeated(const std::string& unit, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
}

// The message a body is refused with ("" when accepted).
std::string refusal(const std::string& path, const std::string& note) {
  try {
    courierFileBody(path, note);
    return "";
  } catch (const DorvikError& e) {
    return e.message();
  }
}

class Files : public GatewayTest {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/dorvik-files-XXXXXX";
    ASSERT_NE(g_mkdtemp(folder), nullptr);
    folder_ = folder;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // A file of `size` bytes (sparse: big files cost nothing).
  std::string file(const std::string& name, std::uintmax_t size, const std::string& content = "") {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    if (content.empty()) std::filesystem::resize_file(path, size);
    return path;
  }

  std::string folder_;
};

}  // namespace

TEST(DocumentPaths, EveryIdentifierIsEncodedAsOnePathSegment) {
  EXPECT_EQ(documentPath("doc 1/2"), "/admin/documents/doc%201%2F2");
  EXPECT_EQ(documentAcksPath("doc 1/2"), "/admin/documents/doc%201%2F2/acks");
  EXPECT_EQ(documentFilePath("doc 1/2"), "/documents/doc%201%2F2/file");
  EXPECT_EQ(documentPath("d-1.v2"), "/admin/documents/d%2D1%2Ev2");
  EXPECT_EQ(documentPath("Памятка7"), "/admin/documents/Памятка7");
  EXPECT_EQ(courierFilesPath("c-1"), "/admin/couriers/c%2D1/files");
  EXPECT_EQ(courierFilesPath("c1"), "/admin/couriers/c1/files");
  EXPECT_EQ(courierFilePath("f_1?x"), "/admin/courier-files/f%5F1%3Fx");
}

TEST(DocumentTexts, CountsCaptionsAndAcknowledgementTimes) {
  const std::pair<JSONValue, std::string> counts[] = {
      {JSONValue::object({{"acked", 3}, {"total", 5}}), "3 из 5"},
      {JSONValue::object({{"acked", "3"}, {"total", "3,0"}}), "3 из 3"},
      {JSONValue::object({{"acked", "три"}, {"total", 2.9}}), "0 из 2"},
      {JSONValue::object({{"acked", 1e300}, {"total", "nan"}}), "9223372036854775807 из 0"},  // no overflow
      {JSONValue(), "0 из 0"},
  };
  for (const auto& [acks, text] : counts) EXPECT_EQ(ackCountText(acks), text) << acks.json();

  EXPECT_EQ(ackedAtText(JSONValue::object({{"ackedAt", nullptr}})), "Ещё нет");
  EXPECT_EQ(ackedAtText(JSONValue::object({})), "Ещё нет");
  EXPECT_EQ(ackedAtText(JSONValue::object({{"ackedAt", "2026-03-05T09:12:00Z"}})), "2026-03-05T09:12:00Z");

  const std::pair<JSONValue, std::string> captions[] = {
      {JSONValue::object({{"bytes", 1023}, {"createdAt", "05.03.2026"}}), "0 КБ · 05.03.2026"},
      {JSONValue::object({{"bytes", 1536}}), "1 КБ · "},
      {JSONValue::object({{"bytes", 8388608}, {"createdAt", "x"}}), "8192 КБ · x"},
      {JSONValue::object({{"createdAt", "вчера"}}), "0 КБ · вчера"},
  };
  for (const auto& [file, text] : captions) EXPECT_EQ(courierFileCaption(file), text) << file.json();
}

TEST_F(Files, TheDocumentThenItsAcknowledgementsWhateverTheFirstOutcome) {
  DocumentDetailsController details(row(JSONValue::object({{"id", "doc 1/2"}, {"title", "Памятка"}})), fake.gateway());
  EXPECT_EQ(details.title(), "Памятка");
  EXPECT_EQ(details.countText(), "0 из 0");
  details.load();
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 1; }));
  EXPECT_EQ(fake.log(), std::vector<std::string>{"GET /admin/documents/doc%201%2F2"});
  spinFor(20ms);
  EXPECT_EQ(fake.calls.size(), 1u) << "the acknowledgements wait for the document";
  FakeGateway::fail(fake.calls[0], "Документ не найден.", 404);
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 2; }));
  EXPECT_EQ(fake.calls[1]->path, "/admin/documents/doc%201%2F2/acks");
  EXPECT_EQ(details.content()->issue(), "Документ не найден.");
  EXPECT_FALSE(details.showsAttachment());
  FakeGateway::finish(
      fake.calls[1],
      JSONValue::object({{"acked", "1"},
                         {"total", 2},
                         {"couriers", JSONValue::array({
                                          JSONValue::object({{"id", "c1"}, {"fullName", "Иван"}, {"ackedAt", nullptr}}),
                                          JSONValue::object({{"id", "c2"}}),
                                      })}}));
  ASSERT_TRUE(spinUntil([&] { return !details.acknowledgments()->loading(); }));
  EXPECT_EQ(details.countText(), "1 из 2");
  ASSERT_EQ(details.couriers().size(), 2u);
  EXPECT_EQ(details.couriers()[1].id(), "c2");
  EXPECT_EQ(details.acknowledgments()->issue(), std::nullopt);
}

TEST_F(Files, TheAttachmentIsOfferedOnlyForAPublishedDocumentOutsideTheDemo) {
  struct Case {
    JSONValue document;
    bool preview;
    bool shown;
    bool enabled;
  };
  const Case cases[] = {
      {JSONValue::object({{"hasFile", false}, {"isActive", true}}), false, false, true},
      {JSONValue::object({{"isActive", true}}), false, false, true},
      {JSONValue::object({{"hasFile", true}, {"isActive", false}, {"fileName", "a.pdf"}}), false, true, false},
      {JSONValue::object({{"hasFile", "1"}, {"isActive", 1}, {"fileName", "a.pdf"}}), false, true, true},
      {JSONValue::object({{"hasFile", true}, {"isActive", true}, {"fileName", "a.pdf"}}), true, true, false},
  };
  for (const Case& c : cases) {
    fake.preview = c.preview;
    DocumentDetailsController details(row(JSONValue::object({{"id", "d1"}})), fake.gateway());
    details.content()->setValue(c.document);
    EXPECT_EQ(details.showsAttachment(), c.shown) << c.document.json();
    EXPECT_EQ(details.canSaveAttachment(), c.enabled) << c.document.json() << c.preview;
    if (c.shown) {
      EXPECT_EQ(details.attachmentLabel(), "Сохранить вложение · a.pdf");
    }
  }
}

TEST_F(Files, SavingTheAttachmentDownloadsOffersAndReportsFailures) {
  auto details = std::make_shared<DocumentDetailsController>(row(JSONValue::object({{"id", "d-1"}})), fake.gateway());
  details->content()->setValue(JSONValue::object({{"hasFile", true}, {"isActive", true}, {"fileName", "old.pdf"}}));

  // A failure shows under the header; a second press tries again and saves under the name loaded by then.
  details->saveAttachment();
  ASSERT_TRUE(spinUntil([&] { return fake.of("download").size() == 1; }));
  EXPECT_EQ(fake.of("download")[0]->path, "/documents/d%2D1/file");
  FakeGateway::fail(fake.of("download")[0], "Нет связи с сервером.", 0);
  ASSERT_TRUE(spinUntil([&] { return details->content()->issue().has_value(); }));
  EXPECT_EQ(details->content()->issue(), "Нет связи с сервером.");
  details->saveAttachment();
  ASSERT_TRUE(spinUntil([&] { return fake.of("download").size() == 2; }));
  details->content()->setValue(JSONValue::object({{"hasFile", true}, {"isActive", true}, {"fileName", "new.pdf"}}));
  details.reset();  // the sheet closed: the download still ends
  FakeGateway::finish(fake.of("download")[1], JSONValue(std::string("%PDF\0x", 6)));
  ASSERT_TRUE(spinUntil([&] { return fake.of("saveFile").size() == 1; }));
  EXPECT_EQ(fake.of("saveFile")[0]->path, "new.pdf");
  EXPECT_EQ(fake.of("saveFile")[0]->body, JSONValue(std::string("%PDF\0x", 6)));

  // Bytes of an older workspace are dropped; without a client nothing is asked.
  DocumentDetailsController other(row(JSONValue::object({{"id", "d2"}})), fake.gateway());
  other.saveAttachment();
  ASSERT_TRUE(spinUntil([&] { return fake.of("download").size() == 3; }));
  fake.generation = "g2";
  FakeGateway::finish(fake.of("download")[2], JSONValue("bytes"));
  spinFor(20ms);
  fake.signedIn = false;
  other.saveAttachment();
  spinFor(20ms);
  EXPECT_EQ(fake.of("download").size(), 3u);
  EXPECT_EQ(fake.of("saveFile").size(), 1u);
  EXPECT_EQ(other.content()->issue(), std::nullopt);
}

TEST_F(Files, TheCourierFileBodyKeepsToItsLimits) {
  const std::string note2000 = repeated("и\xCC\x86", 2000);  // each a letter with a combining breve
  const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // ZWJ
  struct Case {
    std::string name;
    std::uintmax_t size;
    std::string note;
    std::string refused;
  };
  const Case cases[] = {
      {"limit.bin", 8388608, "", ""},
      {"over.bin", 8388609, "", kCourierFileLimits},
      {"empty.bin", 0, "", kCourierFileLimits},
      {"note.txt", 1, note2000, ""},
      {"long-note.txt", 1, note2000 + "x", kCourierFileLimits},
      {"emoji.txt", 1, repeated(family, 2000), ""},
      {"emoji-over.txt", 1, repeated(family, 2001), kCourierFileLimits},
  };
  for (const Case& c : cases) EXPECT_EQ(refusal(file(c.name, c.size), c.note), c.refused) << c.name;
  EXPECT_EQ(refusal(folder_ + "/missing.pdf", "").rfind("Не удалось прочитать файл «missing.pdf»: ", 0), 0u);
  EXPECT_EQ(refusal(folder_, ""), kCourierFileLimits) << "a folder reports no file size";

  const JSONValue body = courierFileBody(file("Договор №1.pdf", 0, "%PDF-1.7"), "  подписан  ");
  EXPECT_EQ(body, JSONValue::object({{"name", "Договор №1.pdf"},
                                     {"mimeType", "application/pdf"},
                                     {"dataBase64", encodeBase64("%PDF-1.7")},
                                     {"note", "  подписан  "}}));
  EXPECT_EQ(courierFileBody(file("README", 0, "x"), "")["mimeType"], JSONValue("application/octet-stream"));
  EXPECT_EQ(courierFileBody(file("a.zzqq", 0, "x"), "")["mimeType"], JSONValue("application/octet-stream"));
}

TEST_F(Files, AttachIsRefusedForAnOlderWorkspaceASecondWriteOrAFailureKeepingTheNote) {
  auto files = CourierFilesController::create(
      row(JSONValue::object({{"id", "c-1"}, {"fullName", "Пётр"}, {"login", "petr"}, {"phone", "+7 900"}})),
      fake.gateway());
  EXPECT_EQ(files->contact(), "petr · +7 900");
  files->load();
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 1; }));
  EXPECT_FALSE(files->showsPlaceholder()) << "not while loading";
  FakeGateway::finish(fake.calls[0], JSONValue::object({{"files", JSONArray{}}}));
  ASSERT_TRUE(spinUntil([&] { return !files->state()->loading(); }));
  EXPECT_TRUE(files->showsPlaceholder());

  const std::string path = file("act.pdf", 0, "abc");
  files->setNote(" акт ");
  files->attach(path, "g0");  // chosen in a chooser of an older workspace
  spinFor(10ms);
  EXPECT_EQ(fake.calls.size(), 1u);

  files->attach(path, files->chooserOpened());
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 2; }));
  EXPECT_FALSE(files->canAttach()) << "one write at a time";
  files->attach(path, files->chooserOpened());  // a second write while one runs is refused silently
  spinFor(10ms);
  EXPECT_EQ(fake.calls.size(), 2u);
  EXPECT_EQ(fake.calls[1]->method + " " + fake.calls[1]->path, "POST /admin/couriers/c%2D1/files");
  EXPECT_EQ((*fake.calls[1]->body)["note"], JSONValue(" акт "));
  FakeGateway::fail(fake.calls[1], "Файл не принят.");
  ASSERT_TRUE(spinUntil([&] { return !files->state()->saving(); }));
  EXPECT_EQ(files->state()->issue(), "Файл не принят.");
  EXPECT_EQ(files->note(), " акт ");
  EXPECT_FALSE(files->showsPlaceholder()) << "an issue hides the placeholder";

  // A refused file leaves its message and sends nothing.
  const std::size_t sent = fake.calls.size();
  files->attach(file("empty.pdf", 0), files->chooserOpened());
  EXPECT_EQ(files->state()->issue(), kCourierFileLimits);
  spinFor(10ms);
  EXPECT_EQ(fake.calls.size(), sent);
}

TEST_F(Files, DeleteOnlyAfterConfirmationAndFailuresShowInTheNotice) {
  auto files = CourierFilesController::create(row(JSONValue::object({{"id", "c1"}})), fake.gateway());
  const Record stored = row(JSONValue::object({{"id", "f-9"}, {"name", "Договор.pdf"}}));
  files->setDeleting(stored);
  files->setDeleting(std::nullopt);  // cancelled
  spinFor(10ms);
  EXPECT_TRUE(fake.calls.empty());

  files->setDeleting(stored);
  files->confirmDelete();
  EXPECT_FALSE(files->deleting());
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 1; }));
  EXPECT_EQ(fake.calls[0]->method + " " + fake.calls[0]->path, "DELETE /admin/courier-files/f%2D9");
  EXPECT_EQ(fake.calls[0]->body, JSONValue()) << "a JSON null body";
  FakeGateway::fail(fake.calls[0], "Нет прав.", 403);
  ASSERT_TRUE(spinUntil([&] { return files->state()->issue().has_value(); }));
  spinFor(10ms);
  EXPECT_EQ(fake.calls.size(), 1u) << "no reload after a failure";

  files->download(stored);
  ASSERT_TRUE(spinUntil([&] { return fake.of("download").size() == 1; }));
  EXPECT_EQ(fake.of("download")[0]->path, "/admin/courier-files/f%2D9");
  FakeGateway::fail(fake.of("download")[0], "Файл не найден.", 404);
  ASSERT_TRUE(spinUntil([&] { return files->state()->issue() == std::optional<std::string>("Файл не найден."); }));
}

TEST_F(Files, CourierFileControlsFollowTheWorkspace) {
  struct Case {
    bool preview, canWrite, attach, download;
  };
  // Demo: nothing; offline: saving only; online: everything.
  for (const Case c :
       {Case{true, false, false, false}, Case{false, false, false, true}, Case{false, true, true, true}}) {
    fake.preview = c.preview;
    fake.canWrite = c.canWrite;
    auto files = CourierFilesController::create(row(JSONValue::object({{"id", "c1"}})), fake.gateway());
    EXPECT_EQ(files->canAttach(), c.attach);
    EXPECT_EQ(files->canDelete(), c.attach);
    EXPECT_EQ(files->canDownload(), c.download);
  }
}
