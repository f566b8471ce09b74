#include "res/strings.h"

#include "res/resource.h"

namespace pw {

const char* LoadStringResource(int id) {
    return id == IDS_ABOUTBOX ? kStrAboutMenu : "";
}

} // namespace pw
