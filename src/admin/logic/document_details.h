// DocumentDetailsController: the details of one published document — its current text, the attachment offered for
// saving, and which couriers have acknowledged the current version. It only reads.
//
// Loading: the document, then (whatever its outcome) its acknowledgements, each through a loader of its own; the
// run is cancelled when the controller goes (the sheet closed). Saving the attachment downloads the stored file and
// offers it for saving; a download outlives the sheet, reports its failure in the document's notice and drops its
// bytes silently when the workspace changed meanwhile.
//
// Main thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "admin/logic/admin_gateway.h"
#include "admin/logic/keyed_task.h"
#include "core/json/json_value.h"
#include "shell/toolkit/screen_data.h"

namespace dorvik::admin {

// Request paths of a document identified by `id` (encoded as one path segment).
std::string documentPath(std::string_view id);      // "/admin/documents/<id>"
std::string documentAcksPath(std::string_view id);  // "/admin/documents/<id>/acks"
std::string documentFilePath(std::string_view id);  // "/documents/<id>/file"

// "<acked> из <total>" of an acknowledgements answer (numbers or numeric texts; anything else counts 0).
std::string ackCountText(const JSONValue& acks);
// The last column of an acknowledgement row: "Ещё нет" until the courier acknowledged, then the time as sent.
std::string ackedAtText(const JSONValue& row);

class DocumentDetailsController {
 public:
  // `document`: the documents list's row that was opened.
  DocumentDetailsController(Record document, AdminGateway gateway);
  DocumentDetailsController(const DocumentDetailsController&) = delete;
  DocumentDetailsController& operator=(const DocumentDetailsController&) = delete;

  // Starts loading the document and its acknowledgements (once).
  void load();

  const std::shared_ptr<ScreenData>& content() const { return content_; }
  const std::shared_ptr<ScreenData>& acknowledgments() const { return acknowledgments_; }

  // The heading: the listed row's "title", shown before and regardless of the document's own answer.
  std::string title() const { return document_["title"].string(); }
  std::string body() const { return content_->value()["body"].string(); }
  bool showsAttachment() const { return content_->value()["hasFile"].boolValue(); }
  std::string attachmentLabel() const;
  // Only a published document's file is offered, and never in the demo workspace.
  bool canSaveAttachment() const;
  // Downloads the attachment and offers it for saving; nothing without a signed-in client.
  void saveAttachment();

  std::string countText() const { return ackCountText(acknowledgments_->value()); }
  std::vector<Record> couriers() const { return JSONValue::records(acknowledgments_->value()["couriers"].array()); }

 private:
  static async::Task<void> runLoad(std::shared_ptr<ScreenData> content, std::shared_ptr<ScreenData> acks,
                                   std::string id, ScreenSource source);

  Record document_;
  AdminGateway gateway_;
  std::shared_ptr<ScreenData> content_ = ScreenData::create();
  std::shared_ptr<ScreenData> acknowledgments_ = ScreenData::create();
  KeyedTask loading_;
};

}  // namespace dorvik::admin
