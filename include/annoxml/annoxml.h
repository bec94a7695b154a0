#pragma once

#include "annoxml/coco.h"
#include "annoxml/dataset.h"
#include "annoxml/frame.h"
#include "annoxml/masks.h"
#include "annoxml/reader.h"
#include "annoxml/util.h"
#include "annoxml/yolo.h"
