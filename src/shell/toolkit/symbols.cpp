#include "shell/toolkit/symbols.h"

#include <array>
#include <utility>

namespace dorvik {

std::string_view symbolIcon(std::string_view symbol) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 47> kIcons{{
      {"arrow.clockwise", "view-refresh-symbolic"},
      {"arrow.right.arrow.left", "object-flip-horizontal-symbolic"},
      {"building.2", "go-home-symbolic"},
      {"building.2.crop.circle", "system-file-manager-symbolic"},
      {"calendar", "x-office-calendar-symbolic"},
      {"chart.bar.xaxis", "x-office-spreadsheet-symbolic"},
      {"checkmark.circle", "emblem-ok-symbolic"},
      {"checkmark.circle.fill", "emblem-ok-symbolic"},
      {"checkmark.seal", "object-select-symbolic"},
      {"circle", "radio-symbolic"},
      {"clock", "document-open-recent-symbolic"},
      {"clock.arrow.circlepath", "document-open-recent-symbolic"},
      {"cursorarrow", "input-mouse-symbolic"},
      {"doc.badge.plus", "document-new-symbolic"},
      {"doc.text", "x-office-document-symbolic"},
      {"exclamationmark.circle", "dialog-warning-symbolic"},
      {"folder", "folder-open-symbolic"},
      {"gearshape", "emblem-system-symbolic"},
      {"iphone", "phone-symbolic"},
      {"key", "dialog-password-symbolic"},
      {"location", "network-wireless-symbolic"},
      {"map", "document-edit-symbolic"},
      {"map.fill", "find-location-symbolic"},
      {"mappin.and.ellipse", "mark-location-symbolic"},
      {"mappin.slash", "location-services-disabled-symbolic"},
      {"network", "network-workgroup-symbolic"},
      {"paperclip", "mail-attachment-symbolic"},
      {"paperplane", "mail-send-symbolic"},
      {"pause.fill", "media-playback-pause-symbolic"},
      {"person.2", "system-users-symbolic"},
      {"person.2.wave.2", "avatar-default-symbolic"},
      {"person.crop.rectangle.stack", "x-office-address-book-symbolic"},
      {"play.fill", "media-playback-start-symbolic"},
      {"plus", "list-add-symbolic"},
      {"point.topleft.down.to.point.bottomright.curvepath", "go-jump-symbolic"},
      {"questionmark.circle", "help-browser-symbolic"},
      {"road.lanes", "zoom-fit-best-symbolic"},
      {"shippingbox", "package-x-generic-symbolic"},
      {"sidebar.right", "sidebar-show-right-symbolic"},
      {"square.and.arrow.up", "document-send-symbolic"},
      {"square.dashed", "edit-select-all-symbolic"},
      {"square.grid.2x2", "preferences-desktop-apps-symbolic"},
      {"trash", "user-trash-symbolic"},
      {"tray.and.arrow.down", "document-save-symbolic"},
      {"truck.box", "emoji-travel-symbolic"},
      {"wifi.slash", "network-offline-symbolic"},
      {"xmark", "window-close-symbolic"},
  }};
  for (const auto& [name, icon] : kIcons)
    if (name == symbol) return icon;
  return "image-missing-symbolic";
}

}  // namespace dorvik
