// Own header of a.
#pragma once
