// The widget kit's background views under names the main window's form can
// promote to: the form's object names are the views' outlet names, which
// the kit also uses for the classes, and a form cannot give a view its own
// class's name.
#pragma once

#include <TvBackgroundViews.h>

using TvTop_StepHeaderView = Top_StepHeaderView;
using TvTop_FavoritHeaderView = Top_FavoritHeaderView;
using TvTop_StepScan_BaseView = Top_StepScan_BaseView;
using TvTop_FavoritScan_BaseView = Top_FavoritScan_BaseView;
using TvScan_HeaderView = Scan_HeaderView;
using TvScan_ImageProc_HeaderView = Scan_ImageProc_HeaderView;
using TvScan_ImageProc_BaseView = Scan_ImageProc_BaseView;
using TvScan_InfoView = Scan_InfoView;
