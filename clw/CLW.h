#pragma once
// The OpenCL wrapper: reference-counted value classes over the OpenCL 1.2 API. Every
// failed call is reported by throwing CLWException.
#include "clw/CLWBuffer.h"
#include "clw/CLWCommandQueue.h"
#include "clw/CLWContext.h"
#include "clw/CLWDevice.h"
#include "clw/CLWDeviceChoice.h"
#include "clw/CLWEvent.h"
#include "clw/CLWException.h"
#include "clw/CLWKernel.h"
#include "clw/CLWKernelArg.h"
#include "clw/CLWPlatform.h"
#include "clw/CLWProgram.h"
#include "clw/ReferenceCounter.h"
