#include "ReleaseSite.h"

#include "AptRepository.h"
#include "PackOptions.h"

namespace ReleaseSite {

void check(const PackOptions& options) {
    if (options.package.type == PackageType::Deb && !options.package.publish.empty()) {
        AptRepository::check(options);
    }
}

void publish(const PackOptions& options, const tstring& packageFile) {
    if (options.package.type == PackageType::Deb && !options.package.publish.empty()) {
        AptRepository::publish(options, packageFile);
    }
}

} // namespace ReleaseSite
