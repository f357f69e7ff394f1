/* A stand-in for libavutil built from the loader's own entry-point list: every listed export
   exists as an empty function, except the one named by FAKE_OMIT_<name>; avutil_version reports
   major version FAKE_MAJOR. */
#define avutil_version fake_unused_avutil_version
#ifdef FAKE_OMIT_av_log_set_level
#define av_log_set_level fake_omitted_av_log_set_level
#endif

#define FF_FUNC(name) \
  void name(void);    \
  void name(void) {}
#include "media/entries/avutil.inc"
#undef FF_FUNC

#undef avutil_version
unsigned avutil_version(void);
unsigned avutil_version(void) { return (unsigned)FAKE_MAJOR << 16; }
