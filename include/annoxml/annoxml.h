#pragma once

#include "annoxml/coco.h"
#include "annoxml/reader.h"
#include "annoxml/util.h"
