#pragma once

// ANNOXML_API marks the C++ functions and classes of the shared library, ANNOXML_C_API the
// functions of the C boundary (managed/native/annoxml_native.h). On Windows the C++ interface is
// linked statically (the tests do so) and the DLL exports the C boundary only.
#if defined(_WIN32)
#define ANNOXML_API
#if defined(ANNOXML_BUILDING)
#define ANNOXML_C_API __declspec(dllexport)
#else
#define ANNOXML_C_API
#endif
#elif defined(ANNOXML_BUILDING)
#define ANNOXML_API __attribute__((visibility("default")))
#define ANNOXML_C_API __attribute__((visibility("default")))
#else
#define ANNOXML_API
#define ANNOXML_C_API
#endif
