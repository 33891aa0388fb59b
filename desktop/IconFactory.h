// IconFactory draws the toolbar's small icons (insert, delete, search, verify, confirm, cancel,
// print, spare) so the desktop needs no image files. A button asks by its glyph name or, when it
// has none, by its component name ("sbtIncluir" -> insert); unknown names get an empty icon.
// The drawings are vectors, rendered at each size up to 64 pixels, so they stay sharp on high-DPI
// screens (see For).
//
// Used on the user-interface thread only. Not instantiable.
#pragma once

#include <QIcon>
#include <QString>

namespace desktop {

class IconFactory {
 public:
  IconFactory() = delete;

  // The icon for a glyph or button name (matched by the words it contains, any letter case).
  static QIcon For(const QString& name);
  // The Portuguese tooltip used when a button's model carries no hint of its own.
  static QString DefaultHint(const QString& name);
};

}  // namespace desktop
