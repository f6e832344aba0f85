// The twenty pictures of the demo: their names, sizes, header kinds and painters.
#pragma once

#include <string>
#include <vector>

#include "resources/pictures/bmp_writer.hpp"
#include "resources/pictures/image.hpp"

struct TPictureJob {
  std::string Name;  // the resource name, also the file name without ".bmp"
  int Width;
  int Height;
  TBmpHeader Header;
  TImage (*Paint)(int width, int height);
};

const std::vector<TPictureJob>& PictureCatalogue();

// The painters, one per picture (arte.cpp files and harbour_*.cpp).
TImage PaintArte1(int w, int h);
TImage PaintArte2(int w, int h);
TImage PaintArte3(int w, int h);
TImage PaintArte4(int w, int h);
TImage PaintArte5(int w, int h);
TImage PaintArte6(int w, int h);
TImage PaintArte7(int w, int h);
TImage PaintArte8(int w, int h);
TImage PaintArte9(int w, int h);
TImage PaintArte10(int w, int h);
TImage PaintArte11(int w, int h);
TImage PaintArte12(int w, int h);
TImage PaintArte13(int w, int h);
TImage PaintArte14(int w, int h);
TImage PaintArte15(int w, int h);
TImage PaintArte16(int w, int h);
TImage PaintBackground(int w, int h);
TImage PaintBoat(int w, int h);
TImage PaintSun(int w, int h);
TImage PaintWater(int w, int h);
