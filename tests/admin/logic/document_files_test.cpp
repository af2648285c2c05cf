// The document details and the courier files without a display: encoded paths, lenient counts, the load order,
// the attachment's save, the courier file body's limits, the attach guards and the controls' enabled states.
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

Record row(const std::string& id) { return Record(JSONValue::object({{"id", id}}), "0"); }

std::string repeated(const std::string& unit, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
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
  // The message a body is refused with ("" when accepted).
  static std::string refusal(const std::string& path, const std::string& note) {
    try {
      courierFileBody(path, note);
      return "";
    } catch (const DorvikError& e) {
      return e.message();
    }
  }

  std::string folder_;
};

}  // namespace

TEST(DocumentTexts, IdentifiersAreEncodedAndCountsReadLeniently) {
  EXPECT_EQ(documentAcksPath("doc 1/2"), "/admin/documents/doc%201%2F2/acks");
  EXPECT_EQ(documentFilePath("d-1.v2"), "/documents/d%2D1%2Ev2/file");
  EXPECT_EQ(courierFilePath("f_1?x"), "/admin/courier-files/f%5F1%3Fx");

  const std::pair<JSONValue, std::string> counts[] = {
      {JSONValue::object({{"acked", "3"}, {"total", "3,0"}}), "3 из 3"},
      {JSONValue::object({{"acked", "три"}, {"total", 2.9}}), "0 из 2"},
      {JSONValue::object({{"acked", 1e300}, {"total", "nan"}}), "9223372036854775807 из 0"},  // no overflow
      {JSONValue(), "0 из 0"},
  };
  for (const auto& [acks, text] : counts) EXPECT_EQ(ackCountText(acks), text) << acks.json();
  EXPECT_EQ(courierFileCaption(JSONValue::object({{"bytes", 1536}})), "1 КБ · ");
}

TEST_F(Files, TheAcknowledgementsFollowTheDocumentWhateverItsOutcome) {
  DocumentDetailsController details(row("d1"), fake.gateway());
  details.load();
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 1; }));
  spinFor(20ms);
  EXPECT_EQ(fake.calls.size(), 1u) << "the acknowledgements wait for the document";
  FakeGateway::fail(fake.calls[0], "Документ не найден.", 404);
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 2; }));
  EXPECT_EQ(fake.log(), (std::vector<std::string>{"GET /admin/documents/d1", "GET /admin/documents/d1/acks"}));
  EXPECT_EQ(details.content()->issue(), "Документ не найден.");
}

TEST_F(Files, TheAttachmentIsSavedUnderTheLatestNameAfterTheSheetClosesButNotForAnOlderWorkspace) {
  auto details = std::make_shared<DocumentDetailsController>(row("d1"), fake.gateway());
  details->saveAttachment();
  ASSERT_TRUE(spinUntil([&] { return fake.of("download").size() == 1; }));
  details->content()->setValue(JSONValue::object({{"hasFile", true}, {"isActive", true}, {"fileName", "new.pdf"}}));
  details.reset();
  FakeGateway::finish(fake.of("download")[0], JSONValue(std::string("%PDF\0x", 6)));
  ASSERT_TRUE(spinUntil([&] { return fake.of("saveFile").size() == 1; }));
  EXPECT_EQ(fake.of("saveFile")[0]->path, "new.pdf");
  EXPECT_EQ(fake.of("saveFile")[0]->body, JSONValue(std::string("%PDF\0x", 6)));

  DocumentDetailsController other(row("d2"), fake.gateway());
  other.saveAttachment();
  ASSERT_TRUE(spinUntil([&] { return fake.of("download").size() == 2; }));
  fake.generation = "g2";
  FakeGateway::finish(fake.of("download")[1], JSONValue("bytes"));
  fake.signedIn = false;
  other.saveAttachment();  // without a client nothing is asked
  spinFor(20ms);
  EXPECT_EQ(fake.of("download").size(), 2u);
  EXPECT_EQ(fake.of("saveFile").size(), 1u);
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
  EXPECT_EQ(courierFileBody(file("README", 0, "x"), "")["mimeType"], JSONValue("application/octet-stream"));
}

TEST_F(Files, AttachIsRefusedForAnOlderWorkspaceASecondWriteOrAFileOverTheLimits) {
  auto files = CourierFilesController::create(row("c1"), fake.gateway());
  const std::string path = file("act.pdf", 0, "abc");
  files->attach(path, "g0");  // chosen in a chooser of an older workspace
  spinFor(10ms);
  EXPECT_TRUE(fake.calls.empty());
  files->attach(path, files->chooserOpened());
  ASSERT_TRUE(spinUntil([&] { return fake.calls.size() == 1; }));
  EXPECT_FALSE(files->canAttach()) << "one write at a time";
  files->attach(path, files->chooserOpened());
  spinFor(10ms);
  ASSERT_EQ(fake.calls.size(), 1u);
  FakeGateway::fail(fake.calls[0], "Файл не принят.");
  ASSERT_TRUE(spinUntil([&] { return !files->state()->saving(); }));

  files->attach(file("empty.pdf", 0), files->chooserOpened());
  EXPECT_EQ(files->state()->issue(), kCourierFileLimits);
  spinFor(10ms);
  EXPECT_EQ(fake.calls.size(), 1u);
}

TEST_F(Files, ControlsFollowTheDocumentAndTheWorkspace) {
  struct Case {
    bool preview, canWrite, attach, download;
  };
  // Demo: nothing; offline: saving only; online: everything.
  for (const Case c :
       {Case{true, false, false, false}, Case{false, false, false, true}, Case{false, true, true, true}}) {
    fake.preview = c.preview;
    fake.canWrite = c.canWrite;
    auto files = CourierFilesController::create(row("c1"), fake.gateway());
    EXPECT_EQ(files->canAttach(), c.attach);
    EXPECT_EQ(files->canDelete(), c.attach);
    EXPECT_EQ(files->canDownload(), c.download);
    DocumentDetailsController details(row("d1"), fake.gateway());
    details.content()->setValue(JSONValue::object({{"hasFile", "1"}, {"isActive", 1}}));
    EXPECT_TRUE(details.showsAttachment());
    EXPECT_EQ(details.canSaveAttachment(), c.download);
  }
  // An unpublished document shows its attachment disabled; none without a file.
  DocumentDetailsController details(row("d1"), fake.gateway());
  details.content()->setValue(JSONValue::object({{"hasFile", true}, {"isActive", false}}));
  EXPECT_FALSE(details.canSaveAttachment());
  details.content()->setValue(JSONValue::object({{"isActive", true}}));
  EXPECT_FALSE(details.showsAttachment());
}
