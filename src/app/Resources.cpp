#include "app/Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE has to be used outside of any namespace.
static void InitCorvaneResources() { Q_INIT_RESOURCE(corvane); }

namespace corvane {

void LoadResources() { InitCorvaneResources(); }

}  // namespace corvane
