/* A frame hook library that lacks the required "Process" export. */
int Configure(void** context, int argc, char* argv[]);
int Configure(void** context, int argc, char* argv[]) {
  (void)context;
  (void)argc;
  (void)argv;
  return 0;
}
