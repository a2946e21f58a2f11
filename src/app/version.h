#pragma once
#define QS_VERSION "0.1.0"
