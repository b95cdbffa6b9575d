// Export.h: marks what libBaseComms exports.
//
// The library is built with hidden symbol visibility; only declarations marked
// BASECOMMS_API are visible to hosts and plug-ins. Classes thrown across the
// library boundary (the support library's error classes) are marked too, so
// their type information is shared and a host can catch them.
#pragma once

#define BASECOMMS_API __attribute__((visibility("default")))
