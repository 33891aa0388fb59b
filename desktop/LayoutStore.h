// LayoutStore remembers the desktop's window layout per user: the main window's geometry and
// state (toolbars, the history panel), the screens' grid column widths and splitter positions.
//
// Values are written to the user's own settings (QSettings, the user scope of the desktop's
// organisation, or the file given to SetUserFile). Reading takes the user's settings first and,
// when they hold nothing for a key, the same key in the desktop's INI file (the keys [Janela]
// Geometria and [Colunas] FORM.GRID that earlier releases wrote there), so a layout saved before
// is carried over; the INI file is never written.
//
// Nothing is remembered (reads give nothing, writes are dropped) when the settings do not
// remember a layout (DesktopSettings::RemembersLayout: built without an INI file of their own).
//
// Used on the user-interface thread only. Intentionally copyable (holds settings and paths).
#pragma once

#include <QString>
#include <QVariant>

#include "desktop/DesktopSettings.h"

namespace desktop {

class LayoutStore {
 public:
  explicit LayoutStore(const DesktopSettings& settings) : settings_(settings) {}

  bool Enabled() const { return settings_.RemembersLayout(); }
  // The value of key ("Janela/Geometria", "Colunas/FORM.GRID", …); invalid when none.
  QVariant Read(const QString& key) const;
  void Write(const QString& key, const QVariant& value) const;

  // The user's settings file; empty (the default) is the user scope's native store. For tests,
  // and for hosts that keep several users on one account.
  static void SetUserFile(const QString& path);
  static QString UserFile();

 private:
  DesktopSettings settings_;
};

}  // namespace desktop
