#pragma once

#include <QWidget>

#include <array>
#include <optional>

class DesktopServices;
class QLabel;

/// The status bar: a fixed text panel and the NUM, CAPS and INS key-state panels. Nothing but
/// the keyboard writes to it.
class StatusBar : public QWidget
{
    Q_OBJECT

public:
    enum Panel { TextPanel, NumPanel, CapsPanel, InsPanel, PanelCount };

    static constexpr int TwipsPerPixel = 15;
    static constexpr std::array<int, PanelCount> PanelWidthTwips { 3900, 1440, 1440, 1440 };
    static constexpr int MinimumPanelWidthTwips = 1440;

    explicit StatusBar(QWidget *parent = nullptr);
    ~StatusBar() override;

    /// Follows the desktop's key-lock indicators from now on.
    void follow(DesktopServices &desktop);

    /// The label that shows a panel (named textPanel, numPanel, capsPanel, insPanel).
    QLabel *panel(Panel which) const { return panels[which]; }
    /// Whether a key panel shows its key as on; empty when the key's state is unknown.
    std::optional<bool> keyShownOn(Panel which) const { return keyStates[which]; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showKey(Panel which, std::optional<bool> on);
    void layoutPanels();

    std::array<QLabel *, PanelCount> panels {};
    std::array<std::optional<bool>, PanelCount> keyStates {};
    bool insertOn = false;
    std::optional<quint64> insertReleasedAt;
};
