#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

/// What the viewer shows of a compiled help file.
struct HelpContent
{
    QString title;
    QString topic; ///< the page the file opens at ("/index.htm")
    QString contents; ///< the contents sitemap ("/toc.hhc"), or empty
    QHash<QString, QByteArray> objects; ///< by lower-case path ("/images/a.png")
};

/// One entry of a contents sitemap: its depth (0 at the top), its name and the page it names.
struct ContentsEntry
{
    int level = 0;
    QString name;
    QString local;
};

/// Reads a compiled help file in the helper process ombrix-help-reader, by default the one beside
/// the program, so that a damaged file crashes or hangs only that process. Asynchronous:
/// finished() follows.
class HelpReader : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimeoutMs = 5000;
    static constexpr char ProgramName[] = "ombrix-help-reader";

    explicit HelpReader(const QString &program = {}, QObject *parent = nullptr);
    ~HelpReader() override;

    /// The helper beside the running program.
    static QString defaultProgram();

    /// Starts reading the file at path; an earlier read still running is abandoned.
    void read(const QString &path);

    /// The content of the helper's output stream; problem says why it is not sound, if it is not.
    /// Object names with "..", a second leading slash, NUL or control characters are dropped.
    static HelpContent parse(const QByteArray &stream, QString *problem);

    /// The entries of a contents sitemap: its <OBJECT type="text/sitemap"> elements with their Name
    /// and Local parameters, each <UL> one level deeper. Tolerates any markup; linear in its size.
    static QList<ContentsEntry> parseContents(const QByteArray &sitemap);

Q_SIGNALS:
    /// The read ended; problem is empty when content holds the file.
    void finished(const HelpContent &content, const QString &problem);

private:
    void fail(const QString &problem);
    void processFinished(int exitCode, QProcess::ExitStatus status);

    QString program;
    QProcess *process = nullptr;
    QTimer timer;
    QByteArray output;
};
