#include "HelpViewer.h"

quintptr openHelpViewer(QWidget *owner, const QString &fileName)
{
    Q_UNUSED(owner);
    Q_UNUSED(fileName);
    return 0;
}
