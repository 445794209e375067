// Face of a.
#pragma once
