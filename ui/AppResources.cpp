#include "ui/AppResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE names a function in the global namespace.
static void initDuploraQrc() {
    Q_INIT_RESOURCE(duplora);
}

namespace duplora {

void InitAppResources() {
    static const bool done = (initDuploraQrc(), true);
    (void)done;
}

} // namespace duplora
