// The page inputs saved between runs (to be built).
#pragma once
