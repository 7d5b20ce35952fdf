#pragma once

#include <QIcon>
#include <QWidget>

#include <optional>

/// The small window that a tray embeds: it paints the icon at whatever size the tray gives it,
/// shows the tip, and reports each mouse action as the mouse message number it stands for.
class TrayIconWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int RequestedSize = 22;

    TrayIconWidget(const QIcon &image, const QString &tip);

    void setImage(const QIcon &image);
    void setTip(const QString &tip);

Q_SIGNALS:
    /// A mouse action on the icon, as a TrayIconData::MouseMessage.
    void mouseMessage(qint32 message);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void report(qint32 message);
    void reportPendingPress();

    QIcon image;
    std::optional<qint32> pendingPress;
};
