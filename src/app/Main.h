#pragma once

#include "desktop/TrayIconData.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <memory>

class About;
enum class Conversion;
class DesktopServices;
namespace Ui {
class Main;
}

/// The program's state that lives as long as the main window; all empty or zero at creation.
struct MainState
{
    QString selectedPath; ///< the file a conversion acts on; empty between commands
    qint16 quitAnswer = 0; ///< button code of the last quit confirmation
    qint32 trayMessage = 0; ///< the latest mouse message reported by the tray icon
    TrayIconData trayIconData; ///< the notification-area record of the last Minimize
};

/// The main window: the file browser, the conversion commands, the menus and the status bar.
class Main : public QMainWindow
{
    Q_OBJECT

public:
    explicit Main(DesktopServices &desktop, QWidget *parent = nullptr);
    ~Main() override;

    /// The load step: drive "C:", folder "C:\", the sound-file patterns, in this order.
    void load();
    /// Hides the window behind a notification-area icon.
    void minimize_to_tray();

    const MainState &state() const { return formState; }

Q_SIGNALS:
    /// The window was unloaded; the program ends.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;

private Q_SLOTS:
    void on_Drive1_driveChanged();
    void on_Dir1_pathChanged();
    void on_refreshFile_clicked();
    void on_toOGG_clicked();
    void on_toLIP_clicked();
    void on_mnuToOGG_triggered();
    void on_mnuWAVtoLIP_triggered();
    void on_mnuToWSS_triggered();
    void on_mnuOGGtoLIP_triggered();
    void on_mnuToWAV_triggered();
    void on_mnuMinimize_triggered();
    void on_mnuExit_triggered();
    void on_mnuHelpContents_triggered();
    void on_mnuAbout_triggered();

private:
    void runConversionCommand(Conversion conversion);
    void refreshAfterTool();
    void onTrayMouseMessage(quint32 window, quint32 iconId, qint32 message);
    void onTrayIconLost(quint32 window, quint32 iconId);
    void restoreFromTray();
    void warnTrayUnavailable();
    template<typename Handler> void handle(Handler &&handler);

    std::unique_ptr<Ui::Main> ui;
    DesktopServices &desktop;
    MainState formState;
    About *about = nullptr;
    QTimer toolRefresh; ///< one re-read of File1 for the tools that end together
    QElapsedTimer sinceToolRefresh;
};
