#include "app/RoleChoice.h"

#include <unistd.h>

#include <vector>

#include "platform/MountTable.h"

namespace corvane {

Role ChooseRole(const std::string& currentFolder, const std::string& systemRoot) {
    if (currentFolder.empty()) return Role::Backup;
    return IsOnOpticalDisc(ReadMountTable(systemRoot), currentFolder) ? Role::Restore : Role::Backup;
}

std::string CurrentFolder() {
    std::vector<char> buffer(4096);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) return buffer.data();
        if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace corvane
