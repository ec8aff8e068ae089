#include "flash_movie.h"

void FreeFlashMovie() {}
