#include "desktop/LayoutStore.h"

#include <QSettings>
#include <memory>

namespace desktop {

namespace {

QString& UserFileSetting() {
  static QString path;
  return path;
}

std::unique_ptr<QSettings> UserSettings() {
  const QString& path = UserFileSetting();
  if (!path.isEmpty()) return std::make_unique<QSettings>(path, QSettings::IniFormat);
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("PDI07310"),
                                     QStringLiteral("pdi07310-desktop-layout"));
}

}  // namespace

void LayoutStore::SetUserFile(const QString& path) { UserFileSetting() = path; }

QString LayoutStore::UserFile() { return UserSettings()->fileName(); }

QVariant LayoutStore::Read(const QString& key) const {
  if (!Enabled()) return {};
  const auto user = UserSettings();
  if (user->contains(key)) return user->value(key);
  // A layout saved by an earlier release lives in the INI file.
  const QSettings ini(QString::fromStdString(settings_.ConfigPath()), QSettings::IniFormat);
  return ini.value(key);
}

void LayoutStore::Write(const QString& key, const QVariant& value) const {
  if (!Enabled()) return;
  UserSettings()->setValue(key, value);
}

}  // namespace desktop
