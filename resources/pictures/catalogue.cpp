// The table of the twenty pictures (see catalogue.hpp).
#include "resources/pictures/catalogue.hpp"

const std::vector<TPictureJob>& PictureCatalogue() {
  static const std::vector<TPictureJob> jobs = {
      {"TEX_ARTE1", 1600, 900, TBmpHeader::V5, PaintArte1},
      {"TEX_ARTE2", 1600, 900, TBmpHeader::V5, PaintArte2},
      {"TEX_ARTE3", 1600, 900, TBmpHeader::V5, PaintArte3},
      {"TEX_ARTE4", 1600, 900, TBmpHeader::V5, PaintArte4},
      {"TEX_ARTE5", 1600, 900, TBmpHeader::V5, PaintArte5},
      {"TEX_ARTE6", 1600, 900, TBmpHeader::V5, PaintArte6},
      {"TEX_ARTE7", 1600, 900, TBmpHeader::V5, PaintArte7},
      {"TEX_ARTE8", 1600, 900, TBmpHeader::V5, PaintArte8},
      {"TEX_ARTE9", 1600, 900, TBmpHeader::V5, PaintArte9},
      {"TEX_ARTE10", 1600, 900, TBmpHeader::V5, PaintArte10},
      {"TEX_ARTE11", 1600, 900, TBmpHeader::V5, PaintArte11},
      {"TEX_ARTE12", 1600, 900, TBmpHeader::V5, PaintArte12},
      {"TEX_ARTE13", 1600, 900, TBmpHeader::V5, PaintArte13},
      {"TEX_ARTE14", 1600, 900, TBmpHeader::V5, PaintArte14},
      {"TEX_ARTE15", 1600, 900, TBmpHeader::V5, PaintArte15},
      {"TEX_ARTE16", 1600, 900, TBmpHeader::V5, PaintArte16},
      {"TEX_BACKGROUND", 1920, 1080, TBmpHeader::V3, PaintBackground},
      {"TEX_BOAT", 934, 762, TBmpHeader::V3, PaintBoat},
      {"TEX_SUN", 1280, 1280, TBmpHeader::V3, PaintSun},
      {"TEX_WATER", 1920, 1280, TBmpHeader::V3, PaintWater},
  };
  return jobs;
}
