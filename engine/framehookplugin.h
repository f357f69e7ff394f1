/* Frame hook plug-ins: shared libraries that a conversion loads with the option "vhook" and that
   see and change every decoded video frame of the task in its own pixel format, before it is
   encoded. A plug-in exports up to three functions by these names, with C linkage:

     int  Configure(void** context, int argc, char* argv[]);   optional
     void Process(void* context, VCFrameHookPicture* picture, int pixelFormat, int width,
                  int height, int64_t pts);                      required
     void Release(void* context);                                optional

   Configure is called once when the option is applied, with the words of the option's value
   (argv[0] is the library's file name); it may store a context of its own through its first
   argument and returns 0 on success (anything else refuses the option). Process is called on the
   task's worker thread for every decoded frame, in the order the plug-ins were added; the
   picture's planes may be changed in place but not replaced. pixelFormat is the media library's
   pixel format number (libavutil 57, e.g. 0 = yuv420p), pts the frame's time in microseconds.
   Release is called with the context when the task is released. A library is loaded once per
   process and stays loaded. The example in engine/plugins/lumainvert.c shows the whole form. */
#ifndef VC_FRAMEHOOKPLUGIN_H
#define VC_FRAMEHOOKPLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VCFrameHookPicture {
  uint8_t* data[4];  /* plane starts */
  int linesize[4];   /* bytes from one row of a plane to the next */
} VCFrameHookPicture;

typedef int (*VCFrameHookConfigure)(void** context, int argc, char* argv[]);
typedef void (*VCFrameHookProcess)(void* context, VCFrameHookPicture* picture, int pixelFormat,
                                   int width, int height, int64_t pts);
typedef void (*VCFrameHookRelease)(void* context);

#ifdef __cplusplus
}
#endif

#endif /* VC_FRAMEHOOKPLUGIN_H */
