#include "app/QtDesktopServices.h"
#include "app/desktop/DesktopError.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

/// The real message boxes: the icon each flag asks for, Yes as default and No on Escape, the error report.
class tst_MessageBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void boxes_data();
    void boxes();
};

void tst_MessageBox::boxes_data()
{
    QTest::addColumn<int>("flags"); // -1: an error report
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("key"); // none: the only button is clicked
    QTest::addColumn<int>("answer");

    const int none = Qt::Key_unknown, ok = DesktopServices::Ok;
    QTest::newRow("16 critical") << 16 << int(QMessageBox::Critical) << none << ok;
    QTest::newRow("48 warning") << 48 << int(QMessageBox::Warning) << none << ok;
    QTest::newRow("64 information") << 64 << int(QMessageBox::Information) << none << ok;
    QTest::newRow("36 question, Return answers Yes")
        << 36 << int(QMessageBox::Question) << int(Qt::Key_Return) << int(DesktopServices::Yes);
    QTest::newRow("36 question, Escape answers No")
        << 36 << int(QMessageBox::Question) << int(Qt::Key_Escape) << int(DesktopServices::No);
    QTest::newRow("error report") << -1 << int(QMessageBox::Critical) << none << ok;
}

void tst_MessageBox::boxes()
{
    QFETCH(int, flags);
    QFETCH(int, icon);
    QFETCH(int, key);
    const QString text = flags < 0 ? QStringLiteral("Run-time error '53':\n\nFile not found: x") : QStringLiteral("t");
    QFETCH(int, answer);

    QtDesktopServices desktop;
    QWidget owner;
    owner.show();
    bool seen = false;
    const auto check = [&](QMessageBox *box) {
        QCOMPARE(box->windowTitle(), QStringLiteral("Ombrix Converter"));
        QCOMPARE(box->text(), text);
        QCOMPARE(int(box->icon()), icon);
        const bool yesNo = flags > 0 && DesktopServices::asksYesNo(flags);
        QCOMPARE(box->buttons().size(), yesNo ? 2 : 1);
        QVERIFY(box->button(yesNo ? QMessageBox::Yes : QMessageBox::Ok));
        if (yesNo)
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
        key != Qt::Key_unknown ? QTest::keyClick(box, Qt::Key(key)) : box->buttons().first()->click();
    };
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = true;
        check(box);
        box->close(); // still up only when a check failed
    });
    if (flags < 0)
        desktop.reportError(&owner, { DesktopError::FileNotFound, QStringLiteral("File not found: x") });
    else
        QCOMPARE(desktop.messageBox(&owner, text, flags, QStringLiteral("Ombrix Converter")), answer);
    QVERIFY(seen);
}

QTEST_MAIN(tst_MessageBox)
#include "tst_messagebox.moc"
