// uFont: stand-in until the atlas lands: an empty atlas.
#include "text/font.hpp"

TUInt32DynArray GenerateGLColorTable() { return TUInt32DynArray::Zeroed(256); }

TTextureAtlas GenerateTextureAtlasBMP(const TResourceEntry&, std::int32_t) { return {}; }
