#include "About.h"

#include "desktop/ProgramFont.h"
#include "ui_About.h"

#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>

namespace {

/// The loaded About window: the controls of About.ui and the handlers of its close requests.
class AboutForm : public QWidget
{
    Q_OBJECT

public:
    AboutForm()
        : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    {
        ui.setupUi(this);

        // The form file keeps whole point sizes only; the fractional ones are set here.
        setFont(ProgramFont::at(ProgramFont::Normal));
        ui.Frame2->setFont(ProgramFont::at(ProgramFont::Small));
        for (QLabel *toolName : { ui.Label4, ui.Label6, ui.Label8 })
            toolName->setFont(ProgramFont::at(ProgramFont::Normal, false, true));
        for (QLabel *title : { ui.Label10, ui.Label3 }) {
            title->setFont(ProgramFont::at(ProgramFont::Title, true));
            QPalette palette = title->palette();
            palette.setColor(QPalette::WindowText, QColor(0, 0, 64));
            title->setPalette(palette);
        }
        ui.Label1->setFont(ProgramFont::at(ProgramFont::Small));
    }

    void focusCloseButton() { ui.closeButton->setFocus(); }

Q_SIGNALS:
    void closeRequested();

protected:
    void changeEvent(QEvent *event) override
    {
        // Some window managers offer to minimise any window. Minimised, this one would have no
        // task-bar entry to come back from while the main window stays disabled, so it stays up.
        if (event->type() == QEvent::WindowStateChange && isMinimized())
            QTimer::singleShot(0, this, [this] { setWindowState(windowState() & ~Qt::WindowMinimized); });
        QWidget::changeEvent(event);
    }

    void closeEvent(QCloseEvent *event) override
    {
        // The title bar's close runs the same steps as closeButton; the window goes away only there.
        event->ignore();
        Q_EMIT closeRequested();
    }

private Q_SLOTS:
    void on_closeButton_clicked() { Q_EMIT closeRequested(); }

private:
    Ui::About ui;
};

} // namespace

About::About(QWidget &mainWindow, QObject *parent)
    : QObject(parent)
    , mainWindow(mainWindow)
{
}

About::~About()
{
    delete form;
}

void About::show()
{
    if (!form) {
        auto *loaded = new AboutForm;
        connect(loaded, &AboutForm::closeRequested, this, &About::closeWindow);
        form = loaded;
        if (const QScreen *screen = mainWindow.screen())
            form->setGeometry(
                QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form->size(), screen->availableGeometry()));
        load();
        Q_EMIT windowBuilt(form);
    }
    // Modeless and without an owner: only the disabled main window keeps the user here.
    form->show();
    form->activateWindow();
    static_cast<AboutForm *>(form.data())->focusCloseButton();
}

void About::load()
{
    // Disabling drops the main window's focus widget; Close hands the focus back to it.
    mainFocus = mainWindow.focusWidget();
    mainWindow.setEnabled(false);
}

void About::closeWindow()
{
    // Unload. The request may come from inside the window's own handlers, so it is destroyed once
    // they have returned; from here on it counts as unloaded.
    if (form) {
        form->hide();
        form->deleteLater();
        form = nullptr;
    }
    mainWindow.setEnabled(true);
    mainWindow.activateWindow();
    if (mainFocus && mainWindow.isAncestorOf(mainFocus))
        mainFocus->setFocus();
    else
        mainWindow.setFocus();
}

#include "About.moc"
