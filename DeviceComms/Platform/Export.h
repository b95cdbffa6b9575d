// Export.h: marks what libBaseComms exports.
//
// The library is built with hidden symbol visibility; only declarations marked
// BASECOMMS_API are visible to hosts and plug-ins: the public operations a
// host calls, marked one by one where a class also has private members.
// Whole classes are marked only where a host needs their type information:
// the classes thrown across the library boundary (the support library's
// error classes, so a host can catch them) and the class loader a host may
// derive from, whose private members are then marked BASECOMMS_LOCAL.
// tests/exported-symbols.txt lists what the library exports.
#pragma once

#define BASECOMMS_API __attribute__((visibility("default")))
#define BASECOMMS_LOCAL __attribute__((visibility("hidden")))
