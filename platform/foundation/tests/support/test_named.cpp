#include "TestNamed.h"

TestNamed::~TestNamed() = default;
