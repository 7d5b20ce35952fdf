#include "Main.h"

#include "ui_Main.h"

#include "about/About.h"
#include "desktop/DesktopError.h"
#include "desktop/DesktopServices.h"
#include "desktop/ErrorGuard.h"
#include "desktop/Logging.h"
#include "desktop/ProgramFont.h"
#include "convert/Conversions.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QLayout>
#include <QMenu>
#include <QScreen>
#include <QStyle>

namespace {

constexpr quint32 TrayIconId = 1;
constexpr quint32 TrayFlags = 7; // message, icon and tip are valid
// A folder of many thousand entries takes a noticeable time to read: a few reads a second at most.
constexpr qint64 ToolRefreshIntervalMs = 300;

void nameSeparators(QMenu *menu, const QString &name)
{
    for (QAction *action : menu->actions()) {
        if (action->isSeparator())
            action->setObjectName(name);
    }
}

} // namespace

Main::Main(DesktopServices &desktop, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Main>())
    , desktop(desktop)
{
    QFont::insertSubstitution(ProgramFont::family(), QStringLiteral("DejaVu Sans"));

    ui->setupUi(this);
    nameSeparators(ui->mnuFile, QStringLiteral("space0"));
    nameSeparators(ui->mnuConversions, QStringLiteral("space1"));
    nameSeparators(ui->mnuHelp, QStringLiteral("spaceX"));

    // The client area below the menu bar is fixed; the menu bar's height depends on the style.
    ui->centralwidget->setFixedSize(553, 324);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // A fixed frame: nothing to maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ui->centralwidget->setFont(ProgramFont::at(ProgramFont::Normal));
    setWindowIcon(QIcon(QStringLiteral(":/ombrix.png")));

    ui->Drive1->setDriveMap(desktop.drives());
    ui->Dir1->setDriveMap(desktop.drives());
    ui->File1->setDriveMap(desktop.drives());
    ui->StatusBar1->follow(desktop);
    ui->Drive1->setFocus();

    connect(ui->Dir1, &FolderList::failed, this,
        [this](const DesktopError &error) { this->desktop.reportError(this, error); });
    connect(&desktop, &DesktopServices::trayMouseMessage, this, &Main::onTrayMouseMessage);
    connect(&desktop, &DesktopServices::trayIconLost, this, &Main::onTrayIconLost);
    connect(&desktop, &DesktopServices::toolEnded, this, &Main::refreshAfterTool);
    toolRefresh.setSingleShot(true);
    toolRefresh.callOnTimeout(this, [this] {
        sinceToolRefresh.start();
        try {
            ui->File1->refresh();
        } catch (const DesktopError &error) {
            // The folder went away since: the user did not ask for this read, so no box.
            qCWarning(lcProcess, "Cannot refresh the file list after a tool ended (error %d: %s)", error.number,
                qUtf8Printable(error.description));
        }
    });

    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, sizeHint(), screen->availableGeometry()));
}

Main::~Main() = default;

template<typename Handler> void Main::handle(Handler &&handler)
{
    guarded(desktop, this, std::forward<Handler>(handler));
}

void Main::load()
{
    handle([this] {
        ui->Drive1->setDrive(QStringLiteral("C:"));
        ui->Dir1->setPath(QStringLiteral("C:\\"));
        ui->File1->setPattern(QStringLiteral("*.wav;*.ogg;*.lip;*.wss"));
    });
}

void Main::on_Drive1_driveChanged()
{
    handle([this] {
        ErrorTrap trap;
        // The folder change runs nested in here and reports its own failures.
        trap.step([this] { ui->Dir1->setPath(ui->Drive1->drive()); });
        if (trap.lastErrorNumber() == DesktopError::DeviceUnavailable)
            desktop.messageBox(this, QStringLiteral("Selected drive is unavailable !"), DesktopServices::Critical,
                DesktopServices::ProgramTitle);
    });
}

void Main::on_Dir1_pathChanged()
{
    handle([this] { ui->File1->setPath(ui->Dir1->path()); });
}

void Main::on_refreshFile_clicked()
{
    handle([this] { ui->File1->refresh(); });
}

void Main::runConversionCommand(Conversion conversion)
{
    handle(
        [this, conversion] { runConversion(toolsOf(conversion), *ui->File1, desktop, this, formState.selectedPath); });
}

void Main::refreshAfterTool()
{
    // The tool's output shows without a click on Refresh.
    if (toolRefresh.isActive())
        return;
    const qint64 since = sinceToolRefresh.isValid() ? sinceToolRefresh.elapsed() : ToolRefreshIntervalMs;
    toolRefresh.start(int(qMax<qint64>(0, ToolRefreshIntervalMs - since)));
}

void Main::on_toOGG_clicked()
{
    runConversionCommand(Conversion::WavToOgg);
}

void Main::on_toLIP_clicked()
{
    runConversionCommand(Conversion::WavToOggAndLip);
}

void Main::on_mnuToOGG_triggered()
{
    runConversionCommand(Conversion::WavToOgg);
}

void Main::on_mnuWAVtoLIP_triggered()
{
    runConversionCommand(Conversion::WavToLip);
}

void Main::on_mnuToWSS_triggered()
{
    runConversionCommand(Conversion::WavToWss);
}

void Main::on_mnuOGGtoLIP_triggered()
{
    runConversionCommand(Conversion::OggToLip);
}

void Main::on_mnuToWAV_triggered()
{
    runConversionCommand(Conversion::OggToWav);
}

void Main::on_mnuMinimize_triggered()
{
    handle([this] { minimize_to_tray(); });
}

void Main::minimize_to_tray()
{
    hide();
    TrayIconData &record = formState.trayIconData;
    record.cbSize = TrayIconData::Size;
    record.hWnd = desktop.windowHandle(this);
    record.uID = TrayIconId;
    record.uFlags = TrayFlags;
    record.uCallbackMessage = TrayIconData::MouseMove;
    record.hIcon = desktop.iconHandle(this);
    record.setTip(QStringLiteral("Restore Ombrix Converter"));
    if (!desktop.notifyIcon(DesktopServices::AddIcon, record)) {
        // Hidden without an icon, the window could never be brought back.
        show();
        warnTrayUnavailable();
    }
}

void Main::warnTrayUnavailable()
{
    desktop.messageBox(this, QStringLiteral("The notification area is not available !"), DesktopServices::Warning,
        DesktopServices::ProgramTitle);
}

void Main::onTrayIconLost(quint32 window, quint32 iconId)
{
    const TrayIconData &record = formState.trayIconData;
    if (window != record.hWnd || iconId != record.uID)
        return;
    // The tray went away with the icon: nothing else could bring the window back.
    handle([this] {
        restoreFromTray();
        warnTrayUnavailable();
    });
}

void Main::onTrayMouseMessage(quint32 window, quint32 iconId, qint32 message)
{
    const TrayIconData &record = formState.trayIconData;
    if (window != record.hWnd || iconId != record.uID)
        return;
    handle([this, message] {
        formState.trayMessage = message;
        if (formState.trayMessage == TrayIconData::LeftButtonDown
            || formState.trayMessage == TrayIconData::RightButtonUp)
            restoreFromTray();
    });
}

void Main::restoreFromTray()
{
    show();
    activateWindow();
    desktop.notifyIcon(DesktopServices::DeleteIcon, formState.trayIconData);
}

void Main::on_mnuExit_triggered()
{
    handle([this] {
        formState.quitAnswer = qint16(desktop.messageBox(this, QStringLiteral("Do you really want to quit ?"),
            DesktopServices::Question, DesktopServices::ProgramTitle));
        if (formState.quitAnswer == DesktopServices::Yes)
            close();
    });
}

void Main::on_mnuHelpContents_triggered()
{
    handle([this] {
        // The bare name: the viewer finds it in the working directory, never in the program's folder.
        desktop.htmlHelp(this, QStringLiteral("Ombrix_Converter_Help.chm").toLatin1());
    });
}

void Main::on_mnuAbout_triggered()
{
    handle([this] {
        if (!about) {
            about = new About(*this, this);
            // A tool window of Main: the task bar shows Main only.
            connect(about, &About::windowBuilt, this, [this](QWidget *window) { desktop.keepOffTaskbar(window); });
        }
        about->show();
    });
}

void Main::closeEvent(QCloseEvent *event)
{
    // Every close unloads at once; only File > Exit asks first.
    handle([this] { desktop.notifyIcon(DesktopServices::DeleteIcon, formState.trayIconData); });
    event->accept();
    Q_EMIT unloaded();
}
