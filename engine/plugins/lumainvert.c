/* An example frame hook plug-in: inverts the brightness of the top-left corner of every frame of
   a planar YUV picture, a square of the size given as its one word (16 when none); "fail" as the
   word makes Configure refuse. Release reports the frames it saw on standard error when the
   environment variable LUMAINVERT_REPORT is set. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/framehookplugin.h"

typedef struct {
  int size;
  long frames;
} Context;

int Configure(void** context, int argc, char* argv[]) {
  Context* c;
  if (argc > 1 && strcmp(argv[1], "fail") == 0) return 1;
  c = calloc(1, sizeof *c);
  if (!c) return 1;
  c->size = argc > 1 ? atoi(argv[1]) : 16;
  if (c->size <= 0) c->size = 16;
  *context = c;
  return 0;
}

void Process(void* context, VCFrameHookPicture* picture, int pixelFormat, int width, int height,
             int64_t pts) {
  Context* c = context;
  int x, y;
  (void)pixelFormat;
  (void)pts;
  for (y = 0; y < c->size && y < height; ++y) {
    uint8_t* row = picture->data[0] + (long)y * picture->linesize[0];
    for (x = 0; x < c->size && x < width; ++x) row[x] = (uint8_t)(255 - row[x]);
  }
  ++c->frames;
}

void Release(void* context) {
  Context* c = context;
  if (getenv("LUMAINVERT_REPORT")) fprintf(stderr, "lumainvert: %ld frames\n", c->frames);
  free(c);
}
