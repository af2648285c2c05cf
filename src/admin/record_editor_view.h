// RecordEditorView: the record editor sheet's content over RecordEditorController — the heading with the delete
// button, the grouped form (the page's fields, the role picker, phones and client addresses, the zone's boundary on
// the map, the document's attachment), the issue line and the footer.
#pragma once

#include <gtkmm.h>

#include <memory>

#include "admin/logic/record_editor.h"
#include "shell/form_widgets.h"
#include "shell/shell_context.h"
#include "shell/sheet.h"

typedef struct _AdwPreferencesGroup AdwPreferencesGroup;
typedef struct _AdwPreferencesPage AdwPreferencesPage;

namespace dorvik {
class TwoGISSurface;
}

namespace dorvik::admin {

class RecordEditorView : public Gtk::Box {
 public:
  // `dismiss` closes the sheet that shows the view.
  RecordEditorView(std::shared_ptr<RecordEditorController> controller, const ShellContext& context,
                   std::function<void()> dismiss);
  ~RecordEditorView() override;

  const std::shared_ptr<RecordEditorController>& controller() const { return controller_; }
  TwoGISSurface* map() const { return map_; }

 private:
  void buildFields();
  void buildRolePicker();
  void buildClientParts();
  void buildZoneParts();
  void buildAttachmentParts();
  void showAddresses();
  void scheduleAddresses();
  void showLookup();
  void showCoordinates();
  void showPolygon();
  void showAttachment();
  // A create whose answer was lost is not in the list: asks before it goes out again.
  void askResend();
  void showBusy();
  void showIssue();
  void chooseAttachment();
  AdwPreferencesGroup* group(const char* title);

  std::shared_ptr<RecordEditorController> controller_;
  ShellContext context_;
  std::function<void()> dismiss_;

  Gtk::Label heading_;
  Gtk::Button trash_;
  AdwPreferencesPage* page_ = nullptr;
  Gtk::Box fieldsSlot_{Gtk::Orientation::VERTICAL, 0};
  GtkWidget* role_ = nullptr;
  bool syncingRole_ = false;
  Gtk::Box addressBlocks_{Gtk::Orientation::VERTICAL, 0};
  // The controls of each client address row, in order. Rows are built anew only when rows come or go: a lookup's
  // start, end and coordinates update them in place, so the field being typed in keeps its focus.
  struct AddressControls {
    ValueFieldRows fields;
    Gtk::Button* find = nullptr;
    Gtk::Spinner* spinner = nullptr;
    Gtk::Button* stop = nullptr;
    Gtk::Button* remove = nullptr;
  };
  std::vector<AddressControls> addressControls_;
  Gtk::Button* addAddress_ = nullptr;
  TwoGISSurface* map_ = nullptr;
  Gtk::Label vertexCount_;
  Gtk::Button undoVertex_{"Отменить точку"};
  Gtk::Label attachmentName_;
  Gtk::Label issue_;
  EditorFooter footer_;
  Glib::RefPtr<Gtk::FileChooserNative> chooser_;

  RecordEditorController::Connection connection_;
  AppModel::Connection modelConnection_;
  ViewLink<RecordEditorView> link_{this};
};

// Opens the editor sheet over `anchor` and prepares the controller; the sheet closes itself after a successful save
// or delete.
Sheet* openRecordEditor(Gtk::Widget& anchor, std::shared_ptr<RecordEditorController> controller,
                        const ShellContext& context);

}  // namespace dorvik::admin
