#include "app/render/TemporaryFile.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace thraskvell::render {

TemporaryFile createTemporaryBeside(const std::filesystem::path& destination) {
    const auto directory =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    TemporaryFile file;
    file.path = (directory / ("." + destination.filename().string() + ".XXXXXX")).string();
    file.descriptor = ::mkstemp(file.path.data());
    if (file.descriptor < 0) return file;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file.descriptor, 0666 & ~mask);
    return file;
}

} // namespace thraskvell::render
