#include "desktop/IconFactory.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace desktop {

namespace {

enum class Kind { None, Insert, Delete, Search, Verify, Confirm, Cancel, Print, Spare, Open };

Kind KindOf(const QString& name) {
  const QString n = name.toLower();
  if (n.contains(QLatin1String("inclu")) || n.contains(QLatin1String("insert"))) return Kind::Insert;
  if (n.contains(QLatin1String("exclu")) || n.contains(QLatin1String("delet"))) return Kind::Delete;
  if (n.contains(QLatin1String("procur")) || n.contains(QLatin1String("pesq"))) return Kind::Search;
  if (n.contains(QLatin1String("verif"))) return Kind::Verify;
  if (n.contains(QLatin1String("confirm"))) return Kind::Confirm;
  if (n.contains(QLatin1String("cancel"))) return Kind::Cancel;
  if (n.contains(QLatin1String("imprim")) || n.contains(QLatin1String("list"))) return Kind::Print;
  if (n.contains(QLatin1String("auxil"))) return Kind::Spare;
  if (n.contains(QLatin1String("abrir")) || n.contains(QLatin1String("open"))) return Kind::Open;
  return Kind::None;
}

QPixmap Draw(Kind kind, int size, bool disabled) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  auto colour = [disabled](QColor c) { return disabled ? QColor(160, 160, 160) : c; };
  QPen pen(colour(Qt::black), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  switch (kind) {
    case Kind::Insert:
      pen.setColor(colour(QColor(20, 140, 40)));
      pen.setWidthF(3);
      p.setPen(pen);
      p.drawLine(QPointF(8, 2.5), QPointF(8, 13.5));
      p.drawLine(QPointF(2.5, 8), QPointF(13.5, 8));
      break;
    case Kind::Delete:
      pen.setColor(colour(QColor(190, 30, 30)));
      pen.setWidthF(3);
      p.setPen(pen);
      p.drawLine(QPointF(2.5, 8), QPointF(13.5, 8));
      break;
    case Kind::Search:
      pen.setColor(colour(QColor(30, 60, 140)));
      p.setPen(pen);
      p.drawEllipse(QPointF(6.5, 6.5), 4, 4);
      pen.setWidthF(3);
      p.setPen(pen);
      p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
      break;
    case Kind::Verify: {
      pen.setColor(colour(QColor(20, 110, 160)));
      p.setPen(pen);
      p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 280 * 16);
      QPainterPath head;
      head.moveTo(11.5, 1);
      head.lineTo(14.5, 4.8);
      head.lineTo(9.6, 5.6);
      head.closeSubpath();
      p.fillPath(head, colour(QColor(20, 110, 160)));
      break;
    }
    case Kind::Confirm:
      pen.setColor(colour(QColor(20, 140, 40)));
      pen.setWidthF(2.8);
      p.setPen(pen);
      p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
      break;
    case Kind::Cancel:
      pen.setColor(colour(QColor(190, 30, 30)));
      pen.setWidthF(2.8);
      p.setPen(pen);
      p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
      p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
      break;
    case Kind::Print:
      pen.setColor(colour(QColor(70, 70, 70)));
      pen.setWidthF(1.4);
      p.setPen(pen);
      p.drawRect(QRectF(4.5, 1.5, 7, 4));
      p.setBrush(colour(QColor(200, 200, 200)));
      p.drawRect(QRectF(1.5, 5.5, 13, 6));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4.5, 9.5, 7, 5));
      break;
    case Kind::Spare:
      pen.setColor(colour(QColor(120, 90, 20)));
      pen.setWidthF(1.6);
      p.setPen(pen);
      p.setBrush(colour(QColor(240, 200, 60)));
      p.drawEllipse(QPointF(8, 8), 5, 5);
      break;
    case Kind::Open:
      pen.setColor(colour(QColor(150, 110, 20)));
      pen.setWidthF(1.4);
      p.setPen(pen);
      p.setBrush(colour(QColor(250, 210, 90)));
      p.drawPolygon(QPolygonF({QPointF(1.5, 4), QPointF(6, 4), QPointF(7.5, 5.5), QPointF(14.5, 5.5),
                               QPointF(14.5, 13.5), QPointF(1.5, 13.5)}));
      break;
    case Kind::None:
      break;
  }
  return pm;
}

}  // namespace

QIcon IconFactory::For(const QString& name) {
  const Kind kind = KindOf(name);
  if (kind == Kind::None) return {};
  QIcon icon;
  // Drawn at every size a screen may ask for, up to twice the largest used (16, 24, 32 at a
  // device pixel ratio of 1, 1.25, 1.5, 2): QIcon then picks the pixmap with enough device
  // pixels, so high-DPI screens get sharp lines instead of a scaled 16-pixel drawing.
  for (int size : {16, 20, 24, 32, 40, 48, 64}) {
    icon.addPixmap(Draw(kind, size, false), QIcon::Normal);
    icon.addPixmap(Draw(kind, size, true), QIcon::Disabled);
  }
  return icon;
}

QString IconFactory::DefaultHint(const QString& name) {
  switch (KindOf(name)) {
    case Kind::Insert:
      return QStringLiteral("Incluir");
    case Kind::Delete:
      return QStringLiteral("Excluir");
    case Kind::Search:
      return QStringLiteral("Procurar");
    case Kind::Verify:
      return QStringLiteral("Verificar (recarregar os dados)");
    case Kind::Confirm:
      return QStringLiteral("Confirmar");
    case Kind::Cancel:
      return QStringLiteral("Cancelar");
    case Kind::Print:
      return QStringLiteral("Imprimir");
    case Kind::Spare:
      return QStringLiteral("Auxiliar");
    case Kind::Open:
      return QStringLiteral("Abrir");
    case Kind::None:
      break;
  }
  return {};
}

}  // namespace desktop
