// The graphics page's picture conversions (to be built).
#pragma once
