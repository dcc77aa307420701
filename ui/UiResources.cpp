#include "UiResources.h"

#include <QtGlobal>

void InitUiResources()
{
    Q_INIT_RESOURCE(resources);
}
