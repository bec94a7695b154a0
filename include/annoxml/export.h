#pragma once

#if defined(ANNOXML_BUILDING)
#define ANNOXML_API __attribute__((visibility("default")))
#else
#define ANNOXML_API
#endif
