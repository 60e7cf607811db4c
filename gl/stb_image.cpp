// The PNG decoder, compiled from the stb_image header where no library build of it is linked.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
