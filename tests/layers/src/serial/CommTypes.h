// Stand-in for a byte-level header.
#pragma once
