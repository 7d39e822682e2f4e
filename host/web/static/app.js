// The web view's one script: the status page reads itself again every minute, and the meals
// page draws its chart from the numbers the page carries.
'use strict';
document.addEventListener('DOMContentLoaded', function () {
  var terminals = document.getElementById('terminals');
  if (terminals) {
    var seconds = parseInt(terminals.getAttribute('data-reload'), 10) || 60;
    setTimeout(function () { window.location.replace('/status'); }, seconds * 1000);
  }
  var canvas = document.getElementById('meals');
  if (canvas && window.Chart) {
    var data = JSON.parse(canvas.getAttribute('data-chart'));
    var colours = ['#e69f00', '#0072b2', '#009e73', '#999999'];
    new window.Chart(canvas, {
      type: 'bar',
      data: {
        labels: data.labels,
        datasets: data.sets.map(function (set, i) {
          return { label: set.label, data: set.data, backgroundColor: colours[i % colours.length] };
        })
      },
      options: {
        animation: false,
        maintainAspectRatio: false,
        scales: { x: { stacked: true }, y: { stacked: true, beginAtZero: true } }
      }
    });
  }
});
