// KD720.ds serves its hosts with the scanning data source.
#include "TavrKdScanDS.h"

CDataSource* CreateDataSourceObject() { return new CTavrKdScanDS; }
