// Everything of the host's effect interface in one include.
#ifndef HOST_API_AE_ALL_H
#define HOST_API_AE_ALL_H

#include "host_api/ae_effect.h"
#include "host_api/ae_params.h"
#include "host_api/ae_smart_render.h"
#include "host_api/ae_suites.h"
#include "host_api/ae_types.h"

#endif
