#include "app/restart_offer.h"

namespace keluflash {

void OfferRestart(UserInterface& ui, SystemServices& system) {
    if (ui.ShowMessage("Reboot this computer right now ?", "Warning", kMbOkCancel | kMbIconWarning | kMbSystemModal) !=
        kIdOk)
        return;
    system.RequestRestart();
}

}  // namespace keluflash
