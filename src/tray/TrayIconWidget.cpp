#include "TrayIconWidget.h"

#include "desktop/TrayIconData.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <utility>

TrayIconWidget::TrayIconWidget(const QIcon &image, const QString &tip)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint)
    , image(image)
{
    setObjectName(QStringLiteral("trayIcon"));
    // The tray never activates the icon's window, yet the tip must show.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAttribute(Qt::WA_QuitOnClose, false);
    setMouseTracking(true);
    setAutoFillBackground(true);
    // Trays that size icons by request read the minimum size; the usual 22 pixels. Until the
    // tray takes the window, keep it off the screen.
    setMinimumSize(RequestedSize, RequestedSize);
    setGeometry(-64, -64, RequestedSize, RequestedSize);
    setTip(tip);
}

void TrayIconWidget::setImage(const QIcon &newImage)
{
    image = newImage;
    update();
}

void TrayIconWidget::setTip(const QString &tip)
{
    setToolTip(tip);
    setWindowTitle(tip);
}

void TrayIconWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    image.paint(&painter, rect());
}

void TrayIconWidget::mousePressEvent(QMouseEvent *event)
{
    reportPendingPress();
    // Qt delivers the second press of a double click before the double click itself; the
    // desktop's convention has the double click instead of that press, so hold it back until
    // it is known whether a double click follows.
    if (event->button() == Qt::LeftButton)
        pendingPress = TrayIconData::LeftButtonDown;
    else if (event->button() == Qt::RightButton)
        pendingPress = TrayIconData::RightButtonDown;
    if (pendingPress)
        QTimer::singleShot(0, this, &TrayIconWidget::reportPendingPress);
}

void TrayIconWidget::mouseReleaseEvent(QMouseEvent *event)
{
    reportPendingPress();
    if (event->button() == Qt::LeftButton)
        report(TrayIconData::LeftButtonUp);
    else if (event->button() == Qt::RightButton)
        report(TrayIconData::RightButtonUp);
}

void TrayIconWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    pendingPress.reset();
    if (event->button() == Qt::LeftButton)
        report(TrayIconData::LeftButtonDoubleClick);
    else if (event->button() == Qt::RightButton)
        report(TrayIconData::RightButtonDoubleClick);
}

void TrayIconWidget::mouseMoveEvent(QMouseEvent *)
{
    reportPendingPress();
    report(TrayIconData::MouseMove);
}

void TrayIconWidget::report(qint32 message)
{
    emit mouseMessage(message);
}

void TrayIconWidget::reportPendingPress()
{
    if (const auto press = std::exchange(pendingPress, std::nullopt))
        report(*press);
}
