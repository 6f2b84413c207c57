// Icon files (.ico) and the icon resources built from them: one RT_ICON
// per image and the RT_GROUP_ICON directory that lists them.
#ifndef TOOLS_BRAND_ICON_FILE_H
#define TOOLS_BRAND_ICON_FILE_H

#include <string>
#include <vector>

#include "tools/brand/bytes.h"
#include "tools/brand/resource_tree.h"

struct IconImage {
    uint8_t width = 0;  // 0 stands for 256
    uint8_t height = 0;
    uint8_t colourCount = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    Bytes data;  // a device-independent bitmap or a PNG
};

// Reads an .ico file; false with error when it is damaged.
bool parseIconFile(const Bytes& file, std::vector<IconImage>& images, std::string& error);

// Replaces the first icon group of the tree (the one the shell shows) and
// the images it lists with these images, in every language of the group;
// without a group, adds group 1. Returns the group's name.
ResourceKey replaceIconGroup(ResourceTree& tree, const std::vector<IconImage>& images);

#endif
