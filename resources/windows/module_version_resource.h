#ifndef PORTWICK_RESOURCES_WINDOWS_MODULE_VERSION_RESOURCE_H_
#define PORTWICK_RESOURCES_WINDOWS_MODULE_VERSION_RESOURCE_H_

#include <windows.h>

#include <optional>

#include "resources/version_resource.h"

namespace portwick {

// The version block of `module` (resource 1 of type RT_VERSION), read with
// VerQueryValue: the numeric versions, the translation list and the standard
// strings (Comments, CompanyName, FileDescription, FileVersion,
// InternalName, LegalCopyright, OriginalFilename, ProductName,
// ProductVersion) of the tables "000004B0", "040904B0" and every table the
// translation list names. Nothing when the module has no version block.
// Each call reads the resource again. Any thread.
std::optional<VersionResource> ReadModuleVersionResource(HMODULE module);

}  // namespace portwick

#endif  // PORTWICK_RESOURCES_WINDOWS_MODULE_VERSION_RESOURCE_H_
