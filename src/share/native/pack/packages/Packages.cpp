#include "Packages.h"

#include "DebPackage.h"
#include "ErrorHandling.h"
#include "MsiPackage.h"
#include "PackHost.h"
#include "PackOptions.h"
#include "PackageTools.h"
#include "RpmPackage.h"
#include "Signing.h"
#include "SourceDate.h"
#include "UpdateSite.h"
#include "ZipArchive.h"

namespace Packages {

void check(const PackOptions& options) {
    const PackageType type = options.package.type;
    if ((type == PackageType::Msi || isLinuxPackage(type)) && PackHost::defaultTarget().windows) {
        const wchar_t* const name = type == PackageType::Msi   ? L"msi"
                                    : type == PackageType::Deb ? L"deb"
                                                               : L"rpm";
        VT_RAISE(tstrings::TextBuilder()
                 << L"--type " << name << L" needs the Linux build of vantrel-pack");
    }
    if (type == PackageType::Msi) {
        MsiPackage::check();
    }
    if (type == PackageType::Deb) {
        DebPackage::check(options);
    }
    if (type == PackageType::Rpm) {
        RpmPackage::check(options);
    }
    Signing::check(options);
    if (type != PackageType::Image) {
        SourceDate::check();
    }
    UpdateSite::check(options);
}

tstring_array write(const PackOptions& options, const tstring& imageDir,
                    const PackageOutput& output) {
    switch (options.package.type) {
    case PackageType::Msi:
        MsiPackage::write(options, imageDir, output.workDir(), output.file());
        Signing::sign(options, output.file());
        UpdateSite::publish(options, output.file());
        break;
    case PackageType::Deb:
        return DebPackage::write(options, imageDir, output.workDir(), output.file());
    case PackageType::Rpm:
        RpmPackage::write(options, imageDir, output.workDir(), output.file());
        break;
    case PackageType::Zip:
        ZipArchive::write(imageDir, options.name, SourceDate::epochOrNow(), output.file());
        UpdateSite::publish(options, output.file());
        break;
    case PackageType::Image:
        break;
    }
    return tstring_array();
}

} // namespace Packages
