// A shared object that is no data source: it exports no DS_Entry.
extern "C" __attribute__((visibility("default"))) int KdNotADataSource() { return 0; }
