/* A stand-in for libpappl in test_pappl_fence: one internal called from
   another of its functions (through the PLT unless linked -Bsymbolic), one
   whose address is taken (through the GOT), one never referenced; and
   papplSystemCreate, so that with LD_PRELOAD dotforge-app takes it for
   libpappl. */
void _dfStubCalled(void) {}
void _dfStubTaken(void) {}
void _dfStubUnused(void) {}
void dfStubEntry(void) { _dfStubCalled(); }
void* dfStubAddress(void) { return (void*)&_dfStubTaken; }
void* papplSystemCreate(void) { return 0; }
