// Scalar types of the Foundation interfaces.
#pragma once

typedef long NSInteger;
typedef unsigned long NSUInteger;

#ifndef YES
typedef signed char BOOL;
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#endif
