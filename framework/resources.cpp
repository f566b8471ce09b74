#include "framework/resources.h"

#include <map>
#include <stdexcept>
#include <string>

namespace pw {

namespace {
// A map keeps each template at its address while others are added, so dialogs may hold on to one.
std::map<int, DialogTemplate>& Templates() {
    static std::map<int, DialogTemplate> templates;
    return templates;
}
IconResource& Icon() {
    static IconResource icon;
    return icon;
}
} // namespace

void RegisterDialogTemplate(DialogTemplate t) {
    const int id = t.id;
    Templates()[id] = std::move(t);
}

const DialogTemplate& FindDialogTemplate(int id) {
    auto it = Templates().find(id);
    if (it == Templates().end()) throw std::out_of_range("no dialog template " + std::to_string(id));
    return it->second;
}

void SetAppIcon(const IconResource& icon) {
    Icon() = icon;
}

const IconResource& AppIcon() {
    return Icon();
}

} // namespace pw
