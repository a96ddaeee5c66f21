// Save names: a name whose extension a type accepts is kept exactly; any other gets exactly that type's
// extension appended.
#include "pictures/save_types.h"

#include <algorithm>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillmark;
    if (size < 1) return 0;
    const int position = data[0] % 4 == 3 ? -1 : data[0] % 4;
    const std::string name(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string extension = extensionPart(name);
    if (extension.size() > name.size() || extension.find('"') != std::string::npos) std::abort();
    if (!extension.empty() && name.find(extension) == std::string::npos) std::abort();

    const std::string saved = saveName(name, position);
    if (position < 0) {
        if (saved != name) std::abort();
        return 0;
    }
    const SaveType& type = kSaveTypes[static_cast<std::size_t>(position)];
    std::string upper = extension;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const bool accepted =
        !upper.empty() && std::find(type.accepted.begin(), type.accepted.end(), upper) != type.accepted.end();
    if (accepted ? saved != name : saved != name + std::string(type.appended)) std::abort();
    return 0;
}
